#pragma once
// Application constants, the base application error, the settings handlers
// with their registry, and the application's error display.

#include "Zel_base.h"

#include <exception>
#include <string>
#include <utility>
#include <vector>

class TMemIniFile;

extern const char* const AppTitle; // "Dorvane"
// The reverse-DNS application id: the desktop file's and metainfo's name, the
// Wayland app id, and the name the desktop knows Dorvane by on its buses.
extern const char* const AppId; // "org.dorvane.Dorvane"
// The gettext domain: the catalogs' file name, dorvane.mo.
extern const char* const TextDomain; // "dorvane"

// Name, version and purpose, for the about box, in the user's language.
std::string AboutText();
// The help's start page: Help/index.html beside the executable, or the
// installed copy under ../share/dorvane/Help/.
std::string HelpPath();
// The catalogs' root: locale/ beside the executable (a build tree), or the
// installed copy's ../share/locale.
std::string LocaleDirectory();
// Settings.ini beside the executable when that directory is writable, else
// under the user's configuration directory.
std::string SettingsPath();
// Makes SettingsPath answer path; an empty path restores the computed one.
void SetSettingsPathForTesting(const std::string& path);

// The two choices above, for a given executable directory (with its trailing "/").
std::string HelpPathFor(const std::string& exeDir);
std::string LocaleDirectoryFor(const std::string& exeDir);
std::string SettingsPathFor(const std::string& exeDir);

class EAppError : public Exception {
public:
    using Exception::Exception;
};

// Every stateful object reads and writes its own keys under the section name
// (or section prefix) it was registered with. Both do nothing by default.
class TSettingsHandler {
public:
    virtual ~TSettingsHandler() = default;
    virtual void LoadSettings(TMemIniFile& ini, const std::string& section);
    virtual void SaveSettings(TMemIniFile& ini, const std::string& section);
};

class TModel : public TSettingsHandler {};

class TSelection : public TSettingsHandler {};

class TCommands : public TSettingsHandler {
public:
    // Throws EAppError "The feature is unavailable.".
    virtual void RaiseUnavailable();
};

// The handlers in registration order, with names unique ignoring case. The
// handlers are not owned.
class TSettingsHandlers {
public:
    virtual ~TSettingsHandlers() = default;
    // Throws EAppError when the name is taken; the list is then unchanged.
    virtual void Add(const std::string& name, TSettingsHandler* handler);
    // Throws EListError when the handler is not registered.
    virtual void Remove(TSettingsHandler* handler);
    virtual void Clear();
    // Reads SettingsPath into an image and lets every handler load from it.
    virtual void Load();
    // Lets every handler save into an emptied image and writes it to
    // SettingsPath; nothing is written when a handler throws.
    virtual void Save();

    std::size_t Count() const noexcept { return FItems.size(); }

private:
    std::vector<std::pair<std::string, TSettingsHandler*>> FItems;
};

// The modal error box: the message, with a full stop added when its last byte
// sorts above ".", captioned with the title. Aborts are not shown.
void ShowException(const std::exception& e);
// For catch (...): shows the exception in flight; a value that is not a
// std::exception is shown as an exception with an empty message.
void HandleCurrentException() noexcept;
