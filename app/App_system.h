#pragma once
// The process-wide state that belongs to no document or program: the current
// directory, which the file dialogs start in.

#include "App_common.h"

class TSystemModel : public TModel {
public:
    // Throws EStringError when the stored directory is not quoted; a stored
    // directory that no longer exists is ignored.
    void LoadSettings(TMemIniFile& ini, const std::string& section) override;
    void SaveSettings(TMemIniFile& ini, const std::string& section) override;
};
