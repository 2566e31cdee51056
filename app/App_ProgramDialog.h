#pragma once
// The modal dialog in which the user edits one program entry.

#include "App_common.h"
#include "Zel_autopointers.h"

#include <QDialog>
#include <QPointer>

#include <functional>
#include <string>
#include <vector>

class TProgramEntry;

namespace Ui {
class TAppProgramDialog;
}

// Works on its own entry: Execute copies Entry into the controls, and OK
// checks every control, builds a new entry from them and copies that back
// into Entry. A check that fails shows its message and keeps the dialog open
// with the focus on the offending control; so does leaving a checked field.
class TAppProgramDialog : public QDialog {
    Q_OBJECT

public:
    // A control holds an invalid input. Constructing it moves the keyboard
    // focus to the control.
    class EInvalidInput : public EAppError {
    public:
        EInvalidInput(std::string message, QWidget& control);
        QWidget* Control() const noexcept { return FControl; }

    private:
        QPointer<QWidget> FControl;
    };

    // A value of the working entry cannot be shown in the controls.
    class EInvalidValue : public EAppError {
    public:
        using EAppError::EAppError;
    };

    // valid starts as true; the handler clears it to refuse the name.
    using TValidateDisplayNameEvent =
        std::function<void(TAppProgramDialog& sender, const std::string& name, bool& valid)>;

    explicit TAppProgramDialog(QWidget* parent = nullptr);
    ~TAppProgramDialog() override;

    // True unless OnValidateDisplayName is set and refuses the name.
    virtual bool ValidateDisplayName(const std::string& name);
    // Shows Entry modally; true when the dialog closed with OK, Entry then
    // holding what the user confirmed. Throws EInvalidValue before showing
    // anything when Entry's window state cannot be shown.
    virtual bool Execute();
    // Makes Entry the defaults for a new program.
    virtual void Reset();

    TProgramEntry& Entry() const noexcept { return *FEntry; }

    // The fields. Each get reads its control and throws EInvalidInput on it
    // when the input is invalid; each set writes its control.
    std::string DisplayName();
    void SetDisplayName(const std::string& value);
    // Empty or absolute; whether the file exists is the entry's business.
    std::string File();
    void SetFile(const std::string& value);
    std::string DocumentPrefix() const;
    void SetDocumentPrefix(const std::string& value);
    std::string DocumentSuffix() const;
    void SetDocumentSuffix(const std::string& value);
    // Empty or absolute.
    std::string WorkingDirectory();
    void SetWorkingDirectory(const std::string& value);
    // 1, 6 or 3 for Normal, Minimized and Maximized; any other value cannot
    // be set (EInvalidValue).
    int ShowCommand();
    void SetShowCommand(int value);
    // An integer >= 0.
    int OpenInterval();
    void SetOpenInterval(int value);
    bool AutoPause() const;
    void SetAutoPause(bool value);

    TValidateDisplayNameEvent OnValidateDisplayName;

protected:
    // Closing with OK stores the fields first and stays open when that fails;
    // any other close checks nothing.
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void LoadFields();
    void StoreFields();
    void UpdateEnabledStates();
    void ArrangeControls();
    void ControlExit(QWidget& control, Qt::FocusReason reason);
    // Checks the fields left since the last run, in order; reports the first
    // failure, drops the rest and answers false then.
    bool RunLeaveChecks();
    void CheckField(const QWidget& control);
    void PlaceOverOwner();
    void Button21Click();
    void Button22Click();

    TAutoPointer<Ui::TAppProgramDialog> FUi;
    TAutoPointer<TProgramEntry> FEntry;
    // Fields left whose check has not run yet.
    std::vector<QPointer<QWidget>> FLeftControls;
};

// The one program dialog of the run, created hidden at first use by
// GetAppProgramDialog and destroyed with the application object; null before.
extern TAppProgramDialog* AppProgramDialog;

TAppProgramDialog& GetAppProgramDialog();
