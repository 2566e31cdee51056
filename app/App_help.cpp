#include "App_help.h"

#include "Zel_dialogs.h"
#include "Zel_shellexecute.h"

void THelpCommands::OpenHelp()
{
    if (!CanOpenHelp())
        RaiseUnavailable();
    if (ShowMessageBox("Do you want to open the offline help?", AppTitle, TMsgDlgType::Warning,
                       mbYes | mbNo, mbYes) != TModalResult::Yes)
        throw EAbort();
    try {
        OpenFile(HelpPath());
    } catch (const Exception&) {
        throw EAppError("The program could not open the help.");
    }
}

bool THelpCommands::CanOpenHelp()
{
    return true;
}

void THelpCommands::About()
{
    if (!CanAbout())
        RaiseUnavailable();
    ShowInformationBox(AboutText(), std::string("About ") + AppTitle);
}

bool THelpCommands::CanAbout()
{
    return true;
}
