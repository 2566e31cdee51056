// The system model, the form and column models, and the help commands.
#include "App_help.h"
#include "App_system.h"
#include "App_view.h"

#include "ScriptedDialogs.h"
#include "TempDirectory.h"
#include "Zel_files.h"
#include "Zel_forms.h"
#include "Zel_inifiles.h"
#include "Zel_listviews.h"
#include "Zel_strings.h"
#include "TestGuards.h"

#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

} // namespace

TEST(TSystemModel, CurrentDirectoryRoundTripsQuotedAndMissingOnesAreIgnored)
{
    TCurrentDirGuard guard;
    TTempDirectory temp;
    const std::string dir = temp.MakeDir("with \"quote\" and blank");
    TSystemModel model;
    TMemIniFile ini(temp / "Settings.ini");

    ASSERT_TRUE(SetCurrentDir(dir));
    model.SaveSettings(ini, "System");
    EXPECT_EQ(ini.ReadString("System", "CurrentDirectory", ""), QuoteString(dir, '"'));

    ASSERT_TRUE(SetCurrentDir("/"));
    model.LoadSettings(ini, "System");
    EXPECT_EQ(GetCurrentDir(), dir);

    // Without a key the current directory stays; a vanished one is ignored.
    TMemIniFile empty(temp / "none.ini");
    model.LoadSettings(empty, "System");
    EXPECT_EQ(GetCurrentDir(), dir);
    ini.WriteString("System", "CurrentDirectory", "\"/no/such/directory\"");
    model.LoadSettings(ini, "System");
    EXPECT_EQ(GetCurrentDir(), dir);
}

TEST(TSystemModel, UnquotedDirectoryFailsTheLoad)
{
    TCurrentDirGuard guard;
    TTempDirectory temp;
    TMemIniFile ini(temp / "Settings.ini");
    ini.SetText("[system]\r\n currentdirectory = /tmp\r\n");
    TSystemModel model;
    try {
        model.LoadSettings(ini, "System");
        FAIL() << "an unquoted directory was accepted";
    } catch (const EStringError& e) {
        EXPECT_EQ(e.Message(), "The program cannot dequote the string.");
    }
}

TEST(TFormModel, BoundsRoundTripAlsoWhenMaximizedAndPartialKeysKeepTheRest)
{
    TTempDirectory temp;
    QWidget form;
    form.resize(400, 300);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    TFormModel model(form);

    SetFormNormalBounds(form, TRect{50, 60, 450, 360});
    form.showMaximized();
    TMemIniFile ini(temp / "Settings.ini");
    model.SaveSettings(ini, "MainForm");
    EXPECT_EQ(ini.ReadInteger("MainForm.BoundsRect", "Left", -1), 50);
    EXPECT_EQ(ini.ReadInteger("MainForm.BoundsRect", "Bottom", -1), 360);

    QWidget restarted;
    TFormModel second(restarted);
    second.LoadSettings(ini, "MainForm");
    EXPECT_EQ(GetFormNormalBounds(restarted), (TRect{50, 60, 450, 360}));

    // Only Left: the window moves to it, the other edges stay, so the width changes.
    TMemIniFile partial(temp / "partial.ini");
    partial.WriteInteger("MainForm.BoundsRect", "Left", 10);
    partial.WriteString("MainForm.BoundsRect", "Top", "not a number");
    second.LoadSettings(partial, "MainForm");
    EXPECT_EQ(GetFormNormalBounds(restarted), (TRect{10, 60, 450, 360}));
}

TEST(TFormModel, WithoutStoredBoundsTheWindowManagerPlacesTheWindow)
{
    // A hidden window that was never placed, as at the first start. Placing it
    // here, even where it already is, would keep the window manager from it.
    TTempDirectory temp;
    TMemIniFile ini(temp / "Settings.ini");
    ini.SetText("[MainForm.BoundsRect]\r\nLeft=\r\nTop=x\r\n");
    QWidget form;
    form.resize(400, 300);
    const QRect designed = form.geometry();
    TFormModel model(form);
    model.LoadSettings(ini, "MainForm");
    TMemIniFile empty(temp / "none.ini");
    model.LoadSettings(empty, "MainForm");
    EXPECT_FALSE(form.testAttribute(Qt::WA_Moved));
    EXPECT_EQ(form.geometry(), designed);

    // One stored edge is a position the user chose: it is applied.
    ini.WriteInteger("MainForm.BoundsRect", "Top", 0);
    model.LoadSettings(ini, "MainForm");
    EXPECT_TRUE(form.testAttribute(Qt::WA_Moved));
}

TEST(TListViewModel, WidthsUseBraceSectionsAndMissingOnesKeepTheColumn)
{
    TTempDirectory temp;
    TVirtualListView view;
    view.SetColumns({{"Name", 200}, {"Directory", 100}, {"Size", 100}});
    TListViewModel model(view);

    view.SetColumnWidth(1, 150);
    TMemIniFile ini(temp / "Settings.ini");
    model.SaveSettings(ini, "MainForm.ListView1");
    EXPECT_EQ(ini.ReadInteger("MainForm.ListView1.Columns.Items[1}", "Width", -1), 150);
    EXPECT_FALSE(ini.SectionExists("MainForm.ListView1.Columns.Items[1]"));

    TMemIniFile stored(temp / "stored.ini");
    stored.SetText("[MainForm.ListView1.Columns.Items[0}]\r\nWidth=321\r\n"
                   "[MainForm.ListView1.Columns.Items[2]]\r\nWidth=99\r\n");
    model.LoadSettings(stored, "MainForm.ListView1");
    EXPECT_EQ(view.GetColumnWidth(0), 321);
    EXPECT_EQ(view.GetColumnWidth(1), 150);
    EXPECT_EQ(view.GetColumnWidth(2), 100); // the bracket form is not read
}

TEST(THelpCommands, HelpAsksFirstAndReportsAMissingFileOnce)
{
    THelpCommands help;
    EXPECT_TRUE(help.CanOpenHelp());
    EXPECT_TRUE(help.CanAbout());
    {
        TScriptedDialogs dialogs;
        dialogs.AnswerMessageBox(TModalResult::No);
        EXPECT_THROW(help.OpenHelp(), EAbort);
        ASSERT_EQ(dialogs.MessageBoxes.size(), 1u);
        EXPECT_EQ(dialogs.MessageBoxes[0].Text, "Do you want to open the offline help?");
        EXPECT_EQ(dialogs.MessageBoxes[0].Caption, "Dorvane");
        EXPECT_EQ(dialogs.MessageBoxes[0].Type, TMsgDlgType::Warning);
        EXPECT_EQ(dialogs.MessageBoxes[0].DefaultButton, mbYes);
    }
    // Test binaries have no Help folder beside them.
    TScriptedDialogs dialogs;
    dialogs.AnswerMessageBox(TModalResult::Yes);
    try {
        help.OpenHelp();
        FAIL() << "a missing help file was opened";
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message(), "The program could not open the help.");
    }
}

TEST(THelpCommands, AboutShowsTheAboutText)
{
    THelpCommands help;
    TScriptedDialogs dialogs;
    dialogs.AnswerMessageBox(TModalResult::Ok);
    help.About();
    ASSERT_EQ(dialogs.MessageBoxes.size(), 1u);
    EXPECT_EQ(dialogs.MessageBoxes[0].Caption, "About Dorvane");
    EXPECT_EQ(dialogs.MessageBoxes[0].Text, AboutText());
    EXPECT_EQ(dialogs.MessageBoxes[0].Type, TMsgDlgType::Information);
    EXPECT_EQ(dialogs.MessageBoxes[0].Buttons, static_cast<TMsgDlgButtons>(mbOK));
}
