#include "App_common.h"

#include "Zel_dialogs.h"
#include "Zel_inifiles.h"

#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::string& content)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Records every message box instead of showing it.
class TRecordingDialogs : public TDialogProvider {
public:
    TRecordingDialogs() { SetDialogProvider(this); }
    ~TRecordingDialogs() override { SetDialogProvider(nullptr); }
    TModalResult MessageBox(const TMessageBoxRequest& request) override
    {
        Boxes.push_back(request);
        return TModalResult::Ok;
    }
    TOpenDialogResult OpenFiles(const TOpenDialogRequest&) override { return {}; }
    std::optional<std::string> BrowseForFolder(const TBrowseFolderRequest&) override { return std::nullopt; }

    std::vector<TMessageBoxRequest> Boxes;
};

// Logs its calls and reads or writes one key of its section.
class TLoggingHandler : public TModel {
public:
    TLoggingHandler(std::vector<std::string>& log, std::string value = std::string())
        : FLog(log), FValue(std::move(value)) {}
    void LoadSettings(TMemIniFile& ini, const std::string& section) override
    {
        FLog.push_back("load " + section);
        Loaded = ini.ReadString(section, "Value", "default");
        if (ThrowOnLoad)
            throw EAppError("Load failed.");
    }
    void SaveSettings(TMemIniFile& ini, const std::string& section) override
    {
        FLog.push_back("save " + section);
        if (ThrowOnSave)
            throw EAppError("Save failed.");
        ini.WriteString(section, "Value", FValue);
    }

    std::string Loaded;
    bool ThrowOnLoad = false;
    bool ThrowOnSave = false;

private:
    std::vector<std::string>& FLog;
    std::string FValue;
};

// Points SettingsPath at a file of a fresh directory for one test.
class TSettingsFile {
public:
    explicit TSettingsFile(const std::string& relative = "Settings.ini") : FPath(FDir / relative)
    {
        SetSettingsPathForTesting(FPath);
    }
    ~TSettingsFile() { SetSettingsPathForTesting(std::string()); }
    const std::string& Path() const { return FPath; }

private:
    TTempDirectory FDir;
    std::string FPath;
};

// Sets an environment variable for one scope.
class TEnvironment {
public:
    TEnvironment(const char* name, const std::string& value) : FName(name)
    {
        if (const char* old = std::getenv(name))
            FOld = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~TEnvironment() { FOld ? (void)::setenv(FName, FOld->c_str(), 1) : (void)::unsetenv(FName); }

private:
    const char* FName;
    std::optional<std::string> FOld;
};

} // namespace

TEST(App_common, ErrorDisplayAddsAFullStopAndSkipsAborts)
{
    TRecordingDialogs dialogs;
    struct EMyAbort : EAbort {
        EMyAbort() : EAbort("Skip") {}
    };
    ShowException(EAppError("The program failed"));
    ShowException(EAppError("The program failed."));
    ShowException(EAppError("Quoted \"x\""));   // '"' sorts below '.'
    ShowException(EAppError("Accented \xC3\xA9")); // a multi-byte last character
    ShowException(EAppError("\u6587\u4EF6\u4E0D\u5B58\u5728\u3002")); // ends in the ideographic full stop
    ShowException(EAppError(""));
    ShowException(std::runtime_error("boom"));
    ShowException(EAbort());
    ShowException(EMyAbort());

    ASSERT_EQ(dialogs.Boxes.size(), 7u);
    EXPECT_EQ(dialogs.Boxes[0].Text, "The program failed.");
    EXPECT_EQ(dialogs.Boxes[1].Text, "The program failed.");
    EXPECT_EQ(dialogs.Boxes[2].Text, "Quoted \"x\"");
    EXPECT_EQ(dialogs.Boxes[3].Text, "Accented \xC3\xA9.");
    EXPECT_EQ(dialogs.Boxes[4].Text, "\u6587\u4EF6\u4E0D\u5B58\u5728\u3002");
    EXPECT_EQ(dialogs.Boxes[5].Text, "");
    EXPECT_EQ(dialogs.Boxes[6].Text, "boom.");
    for (const TMessageBoxRequest& box : dialogs.Boxes) {
        EXPECT_EQ(box.Caption, "Dorvane");
        EXPECT_EQ(box.Type, TMsgDlgType::Error);
        EXPECT_EQ(box.Buttons, static_cast<TMsgDlgButtons>(mbOK));
    }
}

TEST(App_common, CurrentExceptionIsShownFromAnyThrownValue)
{
    TRecordingDialogs dialogs;
    try {
        throw 42;
    } catch (...) {
        HandleCurrentException();
    }
    try {
        throw EAbort();
    } catch (...) {
        HandleCurrentException();
    }
    try {
        TCommands().RaiseUnavailable();
    } catch (...) {
        HandleCurrentException();
    }
    HandleCurrentException(); // outside a handler: nothing to show

    ASSERT_EQ(dialogs.Boxes.size(), 2u);
    EXPECT_EQ(dialogs.Boxes[0].Text, "");
    EXPECT_EQ(dialogs.Boxes[1].Text, "The feature is unavailable.");
}

TEST(App_common, RegistryKeepsNamesUniqueIgnoringCase)
{
    std::vector<std::string> log;
    TLoggingHandler a(log), b(log), c(log);
    TSettingsHandlers handlers;
    handlers.Add("MainForm", &a);
    try {
        handlers.Add("mainform", &b);
        ADD_FAILURE() << "a duplicate name was accepted";
    } catch (const EAppError& e) {
        EXPECT_EQ(e.Message(), "The program cannot add the setting handler.");
    }
    EXPECT_EQ(handlers.Count(), 1u);
    handlers.Add("MainForm.ListView1", &b);

    EXPECT_THROW(handlers.Remove(&c), EListError);
    EXPECT_EQ(handlers.Count(), 2u);
    handlers.Remove(&a);
    handlers.Add("MAINFORM", &c);
    EXPECT_EQ(handlers.Count(), 2u);
    handlers.Clear();
    EXPECT_EQ(handlers.Count(), 0u);
}

TEST(App_common, LoadWalksHandlersInOrderOverTheFile)
{
    TSettingsFile settings;
    std::vector<std::string> log;
    TLoggingHandler system(log), form(log), unused(log);
    TSettingsHandlers handlers;
    handlers.Add("System", &system);
    handlers.Add("MainForm", &form);
    handlers.Add("Unused", &unused);

    handlers.Load(); // no file yet: every handler keeps its default
    EXPECT_EQ(log, (std::vector<std::string>{"load System", "load MainForm", "load Unused"}));
    EXPECT_EQ(system.Loaded, "default");

    WriteFile(settings.Path(), "[ system ]\r\n value = \"from file\" \r\n[MainForm]\r\nValue=2\r\n");
    log.clear();
    form.ThrowOnLoad = true;
    EXPECT_THROW(handlers.Load(), EAppError);
    EXPECT_EQ(log, (std::vector<std::string>{"load System", "load MainForm"})) << "stops at the failure";
    EXPECT_EQ(system.Loaded, "\"from file\"");
    EXPECT_EQ(form.Loaded, "2");
    EXPECT_EQ(ReadFile(settings.Path()),
              "[ system ]\r\n value = \"from file\" \r\n[MainForm]\r\nValue=2\r\n") << "load never writes";

    // An unreadable settings file fails before any handler runs.
    fs::remove(settings.Path());
    fs::create_directory(settings.Path());
    log.clear();
    EXPECT_THROW(handlers.Load(), EIniFileError);
    EXPECT_TRUE(log.empty());
}

TEST(App_common, SaveRewritesTheWholeFileOrNothing)
{
    TSettingsFile settings;
    const std::string handWritten = "[HandWritten]\r\nKey=1\r\n[System]\r\nValue=old\r\n";
    WriteFile(settings.Path(), handWritten);
    std::vector<std::string> log;
    TLoggingHandler system(log, "sys"), silent(log), form(log, "form");
    TSettingsHandlers handlers;
    handlers.Add("System", &system);
    handlers.Add("DocumentEntries", &silent);
    handlers.Add("MainForm", &form);

    form.ThrowOnSave = true;
    EXPECT_THROW(handlers.Save(), EAppError);
    EXPECT_EQ(ReadFile(settings.Path()), handWritten) << "a failing handler must leave the file alone";

    form.ThrowOnSave = false;
    log.clear();
    handlers.Save();
    EXPECT_EQ(log, (std::vector<std::string>{"save System", "save DocumentEntries", "save MainForm"}));
    EXPECT_EQ(ReadFile(settings.Path()), "[System]\r\nValue=sys\r\n\r\n"
                                         "[DocumentEntries]\r\nValue=\r\n\r\n"
                                         "[MainForm]\r\nValue=form\r\n\r\n");

    // A save into a configuration directory that does not exist yet creates it.
    TSettingsFile nested("config/dorvane/Settings.ini");
    handlers.Save();
    EXPECT_EQ(TMemIniFile(nested.Path()).ReadString("MainForm", "Value", ""), "form");
}

TEST(App_common, PathsBesideTheExecutableOrInstalled)
{
    TTempDirectory dir;
    const std::string exeDir = dir / "my Prögram/bin/";
    fs::create_directories(exeDir);

    EXPECT_EQ(HelpPathFor(exeDir), exeDir + "Help/index.html") << "neither copy exists";
    WriteFile(dir / "my Prögram/share/dorvane/Help/index.html", "installed");
    EXPECT_EQ(HelpPathFor(exeDir), dir / "my Prögram/share/dorvane/Help/index.html");
    WriteFile(exeDir + "Help/index.html", "beside");
    EXPECT_EQ(HelpPathFor(exeDir), exeDir + "Help/index.html");

    EXPECT_EQ(SettingsPathFor(exeDir), exeDir + "Settings.ini");
    {
        TEnvironment config("XDG_CONFIG_HOME", dir / "xdg");
        EXPECT_EQ(SettingsPathFor(dir / "missing/"), dir / "xdg/dorvane/Settings.ini");
    }
    {
        TEnvironment config("XDG_CONFIG_HOME", "relative/ignored");
        TEnvironment home("HOME", dir / "home");
        EXPECT_EQ(SettingsPathFor(dir / "missing/"), dir / "home/.config/dorvane/Settings.ini");
    }
}
