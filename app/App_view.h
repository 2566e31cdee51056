#pragma once
// The main window's normal bounds and the document list's column widths.

#include "App_common.h"

class QWidget;
class TCustomListView;

class TFormModel : public TModel {
public:
    explicit TFormModel(QWidget& form) : FForm(form) {}
    void LoadSettings(TMemIniFile& ini, const std::string& section) override;
    void SaveSettings(TMemIniFile& ini, const std::string& section) override;

private:
    QWidget& FForm;
};

class TListViewModel : public TModel {
public:
    explicit TListViewModel(TCustomListView& listView) : FListView(listView) {}
    void LoadSettings(TMemIniFile& ini, const std::string& section) override;
    void SaveSettings(TMemIniFile& ini, const std::string& section) override;

private:
    TCustomListView& FListView;
};
