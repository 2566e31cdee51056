#pragma once
// Scripted stand-in for the Qt dialogs, for tests of code that asks the user.
//
//   TScriptedDialogs dialogs;                 // installed until it goes out of scope
//   dialogs.AnswerMessageBox(TModalResult::No);
//   dialogs.AnswerOpenFiles({"/tmp/a.txt", "/tmp/b.txt"}, 2);
//   dialogs.AnswerFolder("/tmp");
//   ... run the code under test ...
//   ASSERT_EQ(dialogs.MessageBoxes.size(), 1u);
//   EXPECT_EQ(dialogs.MessageBoxes[0].Text, "Do you want ...?");
//
// Answers are queued per kind and used in order. A box or dialog with no queued
// answer fails the test (ADD_FAILURE) and gets the safe answer: Cancel, No or
// OK, the first the box offers; a cancelled file dialog; a cancelled folder
// browser. An answer that is not one of the box's buttons fails the test too.
// Answers still queued when the object is destroyed fail the test, unless
// ExpectAllAnswersUsed was set to false.
//
// An accepted open dialog, like the real one, makes the first file's folder the
// current directory unless the request says KeepCurrentDir (and the folder exists).

#include "Zel_dialogs.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

class TScriptedDialogs : public TDialogProvider {
public:
    // Installs itself as the dialog provider; the destructor puts back the previous one.
    TScriptedDialogs();
    ~TScriptedDialogs() override;
    TScriptedDialogs(const TScriptedDialogs&) = delete;
    TScriptedDialogs& operator=(const TScriptedDialogs&) = delete;

    // Queue the answer to the next message box.
    TScriptedDialogs& AnswerMessageBox(TModalResult answer);
    // Queue an accepted open dialog with these full paths; filterIndex 0 keeps the request's.
    TScriptedDialogs& AnswerOpenFiles(TStringDynArray files, int filterIndex = 0);
    TScriptedDialogs& CancelOpenFiles();
    // Queue the folder the next folder browser returns.
    TScriptedDialogs& AnswerFolder(std::string folder);
    TScriptedDialogs& CancelFolder();

    // Everything asked so far, in order.
    std::vector<TMessageBoxRequest> MessageBoxes;
    std::vector<TOpenDialogRequest> OpenRequests;
    std::vector<TBrowseFolderRequest> FolderRequests;

    bool ExpectAllAnswersUsed = true;

    TModalResult MessageBox(const TMessageBoxRequest& request) override;
    TOpenDialogResult OpenFiles(const TOpenDialogRequest& request) override;
    std::optional<std::string> BrowseForFolder(const TBrowseFolderRequest& request) override;

private:
    TDialogProvider* FPrevious;
    std::deque<TModalResult> FBoxAnswers;
    std::deque<TOpenDialogResult> FOpenAnswers;
    std::deque<std::optional<std::string>> FFolderAnswers;
};

// Readable names for failure messages and expectations.
const char* ToString(TModalResult result);
const char* ToString(TMsgDlgType type);
