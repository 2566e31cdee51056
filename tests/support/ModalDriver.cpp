#include "ModalDriver.h"

#include <QApplication>
#include <QDialog>

#include <gtest/gtest.h>

#include <utility>

namespace {
constexpr int PollMs = 10;
}

TModalDriver::TModalDriver(TAction action, int timeoutMs) : FTimeoutTicks(timeoutMs / PollMs + 1)
{
    FActions.push_back(std::move(action));
    QObject::connect(&FTimer, &QTimer::timeout, [this] { Poll(); });
    FTimer.start(PollMs);
}

TModalDriver::~TModalDriver() = default;

TModalDriver& TModalDriver::Then(TAction action)
{
    FActions.push_back(std::move(action));
    return *this;
}

void TModalDriver::Poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    if (modal != FLast && !FActions.empty()) {
        TAction action = std::move(FActions.front());
        FActions.pop_front();
        FLast = modal;
        FSeen = modal;
        FSeenTicks = 0;
        ++FRuns;
        action(*modal);
        return;
    }
    if (modal != FSeen) {
        FSeen = modal;
        FSeenTicks = 0;
        return;
    }
    if (++FSeenTicks < FTimeoutTicks)
        return;
    ADD_FAILURE() << "A modal " << modal->metaObject()->className() << " stayed open without a driver action";
    FSeenTicks = 0;
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}
