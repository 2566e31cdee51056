#include "ScriptedDialogs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <utility>

namespace {

TMsgDlgBtn ButtonOf(TModalResult answer)
{
    switch (answer) {
    case TModalResult::Yes:
        return mbYes;
    case TModalResult::No:
        return mbNo;
    case TModalResult::Ok:
        return mbOK;
    case TModalResult::Cancel:
        return mbCancel;
    case TModalResult::None:
        break;
    }
    return TMsgDlgBtn(0);
}

} // namespace

const char* ToString(TModalResult result)
{
    switch (result) {
    case TModalResult::None:
        return "None";
    case TModalResult::Ok:
        return "Ok";
    case TModalResult::Cancel:
        return "Cancel";
    case TModalResult::Yes:
        return "Yes";
    case TModalResult::No:
        return "No";
    }
    return "?";
}

const char* ToString(TMsgDlgType type)
{
    switch (type) {
    case TMsgDlgType::Warning:
        return "Warning";
    case TMsgDlgType::Error:
        return "Error";
    case TMsgDlgType::Information:
        return "Information";
    case TMsgDlgType::Confirmation:
        return "Confirmation";
    }
    return "?";
}

TScriptedDialogs::TScriptedDialogs() : FPrevious(&Dialogs())
{
    SetDialogProvider(this);
}

TScriptedDialogs::~TScriptedDialogs()
{
    if (&Dialogs() != this)
        ADD_FAILURE() << "Scripted dialogs destroyed while not the provider in force (nested out of order?)";
    SetDialogProvider(FPrevious);
    if (!ExpectAllAnswersUsed)
        return;
    if (!FBoxAnswers.empty())
        ADD_FAILURE() << FBoxAnswers.size() << " scripted message box answer(s) never used";
    if (!FOpenAnswers.empty())
        ADD_FAILURE() << FOpenAnswers.size() << " scripted open dialog answer(s) never used";
    if (!FFolderAnswers.empty())
        ADD_FAILURE() << FFolderAnswers.size() << " scripted folder answer(s) never used";
}

TScriptedDialogs& TScriptedDialogs::AnswerMessageBox(TModalResult answer)
{
    FBoxAnswers.push_back(answer);
    return *this;
}

TScriptedDialogs& TScriptedDialogs::AnswerOpenFiles(TStringDynArray files, int filterIndex)
{
    TOpenDialogResult result;
    result.Accepted = true;
    result.Files = std::move(files);
    result.FilterIndex = filterIndex;
    FOpenAnswers.push_back(std::move(result));
    return *this;
}

TScriptedDialogs& TScriptedDialogs::CancelOpenFiles()
{
    FOpenAnswers.push_back(TOpenDialogResult());
    return *this;
}

TScriptedDialogs& TScriptedDialogs::AnswerFolder(std::string folder)
{
    FFolderAnswers.emplace_back(std::move(folder));
    return *this;
}

TScriptedDialogs& TScriptedDialogs::CancelFolder()
{
    FFolderAnswers.emplace_back(std::nullopt);
    return *this;
}

TModalResult TScriptedDialogs::MessageBox(const TMessageBoxRequest& request)
{
    MessageBoxes.push_back(request);
    if (FBoxAnswers.empty()) {
        ADD_FAILURE() << "Unexpected message box \"" << request.Text << "\" (caption \"" << request.Caption
                      << "\", " << ToString(request.Type) << ")";
        return SafeAnswer(request.Buttons);
    }
    const TModalResult answer = FBoxAnswers.front();
    FBoxAnswers.pop_front();
    if (!(request.Buttons & ButtonOf(answer))) {
        ADD_FAILURE() << "Scripted answer " << ToString(answer) << " is not a button of the box \"" << request.Text
                      << "\"";
        return SafeAnswer(request.Buttons);
    }
    return answer;
}

TOpenDialogResult TScriptedDialogs::OpenFiles(const TOpenDialogRequest& request)
{
    OpenRequests.push_back(request);
    if (FOpenAnswers.empty()) {
        ADD_FAILURE() << "Unexpected open dialog \"" << request.Title << "\"";
        TOpenDialogResult cancelled;
        cancelled.FilterIndex = request.FilterIndex;
        return cancelled;
    }
    TOpenDialogResult result = std::move(FOpenAnswers.front());
    FOpenAnswers.pop_front();
    if (result.FilterIndex <= 0 || !result.Accepted)
        result.FilterIndex = request.FilterIndex;
    if (result.Accepted && !result.Files.empty() && !request.KeepCurrentDir) {
        const QFileInfo first(QFile::decodeName(QByteArray::fromStdString(result.Files.front())));
        if (first.absoluteDir().exists())
            QDir::setCurrent(first.absolutePath());
    }
    return result;
}

std::optional<std::string> TScriptedDialogs::BrowseForFolder(const TBrowseFolderRequest& request)
{
    FolderRequests.push_back(request);
    if (FFolderAnswers.empty()) {
        ADD_FAILURE() << "Unexpected folder browser \"" << request.Caption << "\"";
        return std::nullopt;
    }
    std::optional<std::string> answer = std::move(FFolderAnswers.front());
    FFolderAnswers.pop_front();
    return answer;
}
