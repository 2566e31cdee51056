#include "App_view.h"

#include "Zel_forms.h"
#include "Zel_inifiles.h"
#include "Zel_listviews.h"

#include <optional>
#include <utility>

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

// A stored number, or nothing when the key is missing or holds no number:
// only then does the read give back either of two different defaults.
std::optional<int> StoredInteger(const TMemIniFile& ini, const std::string& section, const char* key)
{
    const int value = ini.ReadInteger(section, key, 0);
    if (value == 0 && ini.ReadInteger(section, key, 1) == 1)
        return std::nullopt;
    return value;
}

} // namespace

void TFormModel::LoadSettings(TMemIniFile& ini, const std::string& section)
{
    const std::string s = BoundsSection(section);
    TRect r = GetFormNormalBounds(FForm);
    bool stored = false;
    for (auto [key, edge] : {std::pair{"Left", &r.Left}, std::pair{"Top", &r.Top}, std::pair{"Right", &r.Right},
                             std::pair{"Bottom", &r.Bottom}}) {
        if (const std::optional<int> value = StoredInteger(ini, s, key)) {
            *edge = *value;
            stored = true;
        }
    }
    // With nothing stored the window manager places the window. Applying the
    // unshown window's origin would pin it to the screen's corner, its title
    // bar above the top edge.
    if (stored)
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
