#include "App_view.h"

#include "Zel_forms.h"
#include "Zel_inifiles.h"
#include "Zel_listviews.h"

namespace {

std::string BoundsSection(const std::string& section)
{
    return section + ".BoundsRect";
}

// The closing brace is what earlier files hold; reading and writing agree on it.
std::string ColumnSection(const std::string& section, int index)
{
    return section + ".Columns.Items[" + std::to_string(index) + "}";
}

} // namespace

void TFormModel::LoadSettings(TMemIniFile& ini, const std::string& section)
{
    const std::string s = BoundsSection(section);
    TRect r = GetFormNormalBounds(FForm);
    r.Left = ini.ReadInteger(s, "Left", r.Left);
    r.Top = ini.ReadInteger(s, "Top", r.Top);
    r.Right = ini.ReadInteger(s, "Right", r.Right);
    r.Bottom = ini.ReadInteger(s, "Bottom", r.Bottom);
    SetFormNormalBounds(FForm, r);
}

void TFormModel::SaveSettings(TMemIniFile& ini, const std::string& section)
{
    const std::string s = BoundsSection(section);
    const TRect r = GetFormNormalBounds(FForm);
    ini.WriteInteger(s, "Left", r.Left);
    ini.WriteInteger(s, "Top", r.Top);
    ini.WriteInteger(s, "Right", r.Right);
    ini.WriteInteger(s, "Bottom", r.Bottom);
}

void TListViewModel::LoadSettings(TMemIniFile& ini, const std::string& section)
{
    for (int i = 0; i < FListView.ColumnCount(); ++i)
        FListView.SetColumnWidth(i, ini.ReadInteger(ColumnSection(section, i), "Width",
                                                    FListView.GetColumnWidth(i)));
}

void TListViewModel::SaveSettings(TMemIniFile& ini, const std::string& section)
{
    for (int i = 0; i < FListView.ColumnCount(); ++i)
        ini.WriteInteger(ColumnSection(section, i), "Width", FListView.GetColumnWidth(i));
}
