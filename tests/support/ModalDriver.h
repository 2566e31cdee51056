#pragma once
// Drives real modal dialogs from inside their exec() loops.
//
//   TModalDriver driver([](QWidget& modal) {
//       qobject_cast<QMessageBox*>(&modal)->button(QMessageBox::No)->click();
//   });
//   ... code that shows a modal box ...
//   EXPECT_EQ(driver.Runs(), 1);
//
// Each queued action runs once, on the next modal widget that comes up (the
// first action on the first, Then's on the following ones). A modal widget that
// stays up for TimeoutMs with no action left for it is closed with a test
// failure, so a test that drives a dialog wrongly fails instead of hanging.

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>

class TModalDriver {
public:
    using TAction = std::function<void(QWidget& modal)>;

    explicit TModalDriver(TAction action, int timeoutMs = 10000);
    ~TModalDriver();
    TModalDriver(const TModalDriver&) = delete;
    TModalDriver& operator=(const TModalDriver&) = delete;

    TModalDriver& Then(TAction action);
    int Runs() const { return FRuns; }

private:
    void Poll();

    QTimer FTimer;
    std::deque<TAction> FActions;
    QPointer<QWidget> FLast; // the last widget acted on
    QPointer<QWidget> FSeen; // the modal widget being timed
    int FSeenTicks = 0;
    int FRuns = 0;
    int FTimeoutTicks;
};
