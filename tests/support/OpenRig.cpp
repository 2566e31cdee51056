#include "OpenRig.h"

#include "ProcessTestSupport.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace {

template <typename T> T& Child(QWidget& dialog, const char* name)
{
    T* child = dialog.findChild<T*>(name);
    if (!child)
        throw std::logic_error(std::string("the dialog has no child ") + name);
    return *child;
}

} // namespace

QLabel& Label(QWidget& dialog, const char* name)
{
    return Child<QLabel>(dialog, name);
}

QPushButton& Button(QWidget& dialog, const char* name)
{
    return Child<QPushButton>(dialog, name);
}

std::string ShownState(QWidget& dialog)
{
    std::string glyph;
    for (const char* name : {"Image1", "Image2", "Image3"})
        if (!Label(dialog, name).isHidden())
            glyph += name[5];
    const QProgressBar& bar = Child<QProgressBar>(dialog, "ProgressBar");
    auto on = [&](const char* name) { return Button(dialog, name).isEnabled() ? "on" : "off"; };
    const QLabel& reason = Label(dialog, "Label6");
    return glyph + " | " + Label(dialog, "Label1").text().toStdString() + " | " +
        Label(dialog, "Label3").text().toStdString() + " | " + Label(dialog, "Label5").text().toStdString() + " | " +
        std::to_string(bar.value()) + "/" + std::to_string(bar.maximum()) + " | " + on("Button1") + " " +
        on("Button2") + " " + on("Button3") +
        (reason.isHidden() ? std::string() : " | reason: " + reason.text().toStdString());
}

void Later(std::function<void()> action)
{
    QTimer::singleShot(0, QCoreApplication::instance(), std::move(action));
}

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.rfind(start, 0) == 0;
}

// TRecordingProgressDialog ---------------------------------------------------

void TRecordingProgressDialog::FinishHandler(TTask& sender)
{
    Note("finish");
    TAppProgressDialog::FinishHandler(sender);
}

void TRecordingProgressDialog::NamesHandler(TTask& sender, const std::string& program, const std::string& document)
{
    TAppProgressDialog::NamesHandler(sender, program, document);
    Note("names");
}

void TRecordingProgressDialog::PausedHandler(TTask& sender)
{
    TAppProgressDialog::PausedHandler(sender);
    Note("paused");
}

void TRecordingProgressDialog::ResumedHandler(TTask& sender)
{
    TAppProgressDialog::ResumedHandler(sender);
    Note("resumed");
}

void TRecordingProgressDialog::StatusHandler(TTask& sender, const std::string& text)
{
    TAppProgressDialog::StatusHandler(sender, text);
    Note("status");
}

void TRecordingProgressDialog::NoticeHandler(TTask& sender, const std::string& text)
{
    TAppProgressDialog::NoticeHandler(sender, text);
    Note("notice");
}

void TRecordingProgressDialog::FailureHandler(TTask& sender, const std::string& text)
{
    TAppProgressDialog::FailureHandler(sender, text);
    Note("failure");
}

void TRecordingProgressDialog::FailureReasonHandler(TTask& sender, const std::string& reason)
{
    TAppProgressDialog::FailureReasonHandler(sender, reason);
    Note("reason");
}

void TRecordingProgressDialog::ProgressHandler(TTask& sender, int position, int maximum)
{
    TAppProgressDialog::ProgressHandler(sender, position, maximum);
    Note("progress");
}

TLines TRecordingProgressDialog::From(const std::string& what) const
{
    auto at = std::find_if(Log.begin(), Log.end(), [&](const std::string& line) { return StartsWith(line, what); });
    return TLines(at, Log.end());
}

TLines TRecordingProgressDialog::Remarkable() const
{
    TLines lines;
    for (const std::string& line : Log)
        if (!StartsWith(line, "shown") && !StartsWith(line, "names") && !StartsWith(line, "status") &&
            !StartsWith(line, "progress"))
            lines.push_back(line);
    return lines;
}

void TRecordingProgressDialog::showEvent(QShowEvent* event)
{
    TAppProgressDialog::showEvent(event);
    Note("shown");
}

void TRecordingProgressDialog::Note(const std::string& what)
{
    Log.push_back(what + ": " + ShownState(*this));
    if (OnNote)
        OnNote(Log.back());
}

// TRunWatchdog ---------------------------------------------------------------

TRunWatchdog::TRunWatchdog(int timeoutMs)
{
    FTimer.setSingleShot(true);
    QObject::connect(&FTimer, &QTimer::timeout, [] {
        ADD_FAILURE() << "the open run did not end";
        if (AppProgressDialog)
            AppProgressDialog->FireOnCancelRequest();
    });
    FTimer.start(timeoutMs);
}

// TOpenRig -------------------------------------------------------------------

TOpenRig::TOpenRig() : Selection(Programs, Combo), Commands(Programs, Documents, Selection)
{
    Programs.OnInserted = [this](TProgramEntriesModel&, int index) { Selection.EntryInserted(index); };
    Programs.OnDeleted = [this](TProgramEntriesModel&, int index) { Selection.EntryDeleted(index); };
    Programs.OnCleared = [this](TProgramEntriesModel&) { Selection.EntriesCleared(); };
    delete AppProgressDialog.data();
    Dialog = new TRecordingProgressDialog;
    AppProgressDialog = Dialog;
}

TOpenRig::~TOpenRig()
{
    delete AppProgressDialog.data();
    EXPECT_TRUE(WaitUntil([] { return ZombieChildren().empty(); }));
}

TProgramEntry& TOpenRig::AddViewer(const std::string& file, const std::string& prefix, const std::string& suffix,
                                   bool autoPause)
{
    auto entry = std::make_unique<TProgramEntry>();
    entry->SetDisplayName("Viewer");
    entry->SetFile(file);
    entry->SetDocumentPrefix(prefix);
    entry->SetDocumentSuffix(suffix);
    entry->SetAutoPause(autoPause);
    TProgramEntry& added = *entry;
    Selection.SetSelectedIndex(Programs.Add(std::move(entry)));
    return added;
}

std::string TOpenRig::Results() const
{
    std::string results;
    for (int i = 0; i < Documents.GetCount(); ++i)
        results += std::string(i ? " " : "") + DocumentEntryResultText(Documents.GetItem(i)->Result());
    return results;
}
