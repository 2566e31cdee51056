#pragma once
// The Help menu: the offline help and the about box.

#include "App_common.h"

class THelpCommands : public TCommands {
public:
    // Asks first; No is a silent abort. Throws EAppError "The program could
    // not open the help." when the desktop cannot open the help file.
    virtual void OpenHelp();
    virtual bool CanOpenHelp();
    virtual void About();
    virtual bool CanAbout();
};
