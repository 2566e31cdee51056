#include "App_help.h"

#include "Zel_dialogs.h"
#include "Zel_shellexecute.h"
#include "Zel_translations.h"

void THelpCommands::OpenHelp()
{
    if (!CanOpenHelp())
        RaiseUnavailable();
    if (ShowMessageBox(Tr("Do you want to open the offline help?"), AppTitle, TMsgDlgType::Warning,
                       mbYes | mbNo, mbYes) != TModalResult::Yes)
        throw EAbort();
    try {
        OpenFile(HelpPath());
    } catch (const Exception&) {
        throw EAppError(Tr("The program could not open the help."));
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
    // TRANSLATORS: title of the About box: %1 is the program's name
    ShowInformationBox(AboutText(), FormatText(Tr("About %1"), {AppTitle}));
}

bool THelpCommands::CanAbout()
{
    return true;
}
