#pragma once
// The modal dialog that shows an open run: the program, the document, a status
// text with its glyph and the progress bar, with Pause, Resume and Cancel.
// Until the run has finished every attempt to close it becomes a cancel
// request instead.

#include "Zel_autopointers.h"

#include <QDialog>
#include <QPointer>
#include <QString>

#include <functional>
#include <string>

class QLabel;
class TTask;

namespace Ui {
class TAppProgressDialog;
}

class TAppProgressDialog : public QDialog {
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(TAppProgressDialog& sender)>;

    explicit TAppProgressDialog(QWidget* parent = nullptr);
    ~TAppProgressDialog() override;

    TNotifyEvent OnPause;
    TNotifyEvent OnResume;
    TNotifyEvent OnCancelRequest;

    virtual void FireOnPause();
    virtual void FireOnResume();
    virtual void FireOnCancelRequest();
    // Resets the display and shows the dialog modally until Finish; returns
    // the modal result (Accepted). A Finish that came before returns at once.
    virtual int Execute();
    // Lets the dialog close with the result Accepted.
    virtual void Finish();
    virtual void ResetDisplay();
    // Ordinary progress: the activity glyph and the text.
    virtual void ShowStatus(const std::string& text);
    // Something the user should look at: the warning glyph and the text.
    virtual void ShowNotice(const std::string& text);
    // A failed step: the error glyph and the text.
    virtual void ShowFailure(const std::string& text);
    // Why the step shown failed, on a line of its own under its text; the
    // next text of any kind takes it away.
    virtual void ShowFailureReason(const std::string& reason);
    // The program's display name and the document's file name.
    virtual void ShowNames(const std::string& program, const std::string& document);
    virtual void ShowProgress(int position, int maximum);
    // The targets of the task's events.
    virtual void FinishHandler(TTask& sender);
    virtual void NamesHandler(TTask& sender, const std::string& program, const std::string& document);
    virtual void PausedHandler(TTask& sender);
    virtual void ResumedHandler(TTask& sender);
    virtual void StatusHandler(TTask& sender, const std::string& text);
    virtual void NoticeHandler(TTask& sender, const std::string& text);
    virtual void FailureHandler(TTask& sender, const std::string& text);
    virtual void FailureReasonHandler(TTask& sender, const std::string& reason);
    virtual void ProgressHandler(TTask& sender, int position, int maximum);

    // Every way of closing (Cancel, Escape, the close box, reject()) ends
    // here: before Finish it only asks for cancellation.
    void done(int result) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void ShowImage(QLabel* image);
    void SetPaused(bool paused);
    void ShowTexts();
    void ShowStatusText(QLabel* image, const std::string& text);
    void ShowReasonLine(bool shown);

    TAutoPointer<Ui::TAppProgressDialog> FUi;
    // Full texts; the labels show them shortened to fit.
    QString FStatus;
    QString FReason;
    // What the reason's line added to the dialog's height, taken off again
    // when it goes.
    int FReasonGrowth = 0;
    QString FProgram;
    QString FDocument;
    bool FFinished = false;
};

// The one progress dialog, reused for every run; null until first used.
extern QPointer<TAppProgressDialog> AppProgressDialog;

// AppProgressDialog, created on first use as a window of the active window
// (the main window), which then owns it.
TAppProgressDialog& NeedAppProgressDialog();
