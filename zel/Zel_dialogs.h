#pragma once
// Message boxes, the file-open dialog and the folder browser, behind a seam:
// the program asks the current provider, which is the Qt dialogs unless a test
// has installed a scripted one.

#include "Zel_dynamicarrays.h"

#include <optional>
#include <string>

enum class TMsgDlgType { Warning, Error, Information, Confirmation };

enum TMsgDlgBtn : unsigned { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8 };
using TMsgDlgButtons = unsigned; // a set of TMsgDlgBtn bits

enum class TModalResult { None, Ok, Cancel, Yes, No };

struct TMessageBoxRequest {
    std::string Text;
    std::string Caption;
    TMsgDlgType Type = TMsgDlgType::Information;
    TMsgDlgButtons Buttons = mbOK;
    TMsgDlgBtn DefaultButton = mbOK;
};

// Filter is "Name (patterns)|patterns|Name|patterns..."; FilterIndex is 1-based.
struct TOpenDialogRequest {
    std::string Title;
    std::string Filter;
    int FilterIndex = 1;
    std::string InitialDir;
    std::string FileName;
    bool MultiSelect = false;
    bool FileMustExist = true;
    // Accepting the dialog makes the chosen files' folder the process's current
    // directory, as the platform dialog does, unless this is set.
    bool KeepCurrentDir = false;
};

struct TOpenDialogResult {
    bool Accepted = false;
    TStringDynArray Files; // full paths, in the dialog's order
    int FilterIndex = 1;   // the filter in use when accepted; the request's when cancelled
};

struct TBrowseFolderRequest {
    std::string Caption;
    std::string InitialDir; // empty: no preselection
};

class TDialogProvider {
public:
    virtual ~TDialogProvider() = default;
    virtual TModalResult MessageBox(const TMessageBoxRequest& request) = 0;
    virtual TOpenDialogResult OpenFiles(const TOpenDialogRequest& request) = 0;
    // The chosen folder, or nothing when cancelled.
    virtual std::optional<std::string> BrowseForFolder(const TBrowseFolderRequest& request) = 0;
};

// The provider in force: the Qt dialogs unless SetDialogProvider installed another.
// The Qt dialogs must be used from the GUI thread (EInvalidOperation otherwise).
// Without a QApplication a message box goes to stderr and answers Cancel, No or
// OK, the first of them it offers; the file dialogs answer cancelled.
TDialogProvider& Dialogs();
// Installs a provider (not owned); nullptr restores the Qt dialogs.
void SetDialogProvider(TDialogProvider* provider);
// The answer of a box that cannot be asked: Cancel, No or OK, the first of
// them it offers.
TModalResult SafeAnswer(TMsgDlgButtons buttons);

// Shorthands over Dialogs().MessageBox; every box comes to the front.
TModalResult ShowMessageBox(const std::string& text, const std::string& caption, TMsgDlgType type,
                            TMsgDlgButtons buttons, TMsgDlgBtn defaultButton);
void ShowErrorBox(const std::string& text, const std::string& caption);
void ShowInformationBox(const std::string& text, const std::string& caption);
// Warning icon, Yes and No; true only for Yes.
bool ConfirmBox(const std::string& text, const std::string& caption);
