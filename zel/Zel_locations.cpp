#include "Zel_locations.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>


std::string ExecutableFileName()
{
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return std::string();
        if (static_cast<std::size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        buffer.resize(buffer.size() * 2); // possibly truncated: try again larger
    }
}

std::string HomeDirectory()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    std::vector<char> buffer(4096);
    struct passwd pw {};
    struct passwd* result = nullptr;
    while (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &result) == ERANGE)
        buffer.resize(buffer.size() * 2);
    return result && result->pw_dir ? std::string(result->pw_dir) : std::string();
}

std::string ConfigHomeDirectory()
{
    // Relative values are invalid by the base directory rules and are ignored.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return config;
    const std::string home = HomeDirectory();
    return home.empty() ? std::string() : home + "/.config";
}

bool IsExistingFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsExistingDirectory(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsWritableDirectory(const std::string& dir)
{
    return IsExistingDirectory(dir) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

bool ForceDirectories(const std::string& dir)
{
    if (dir.empty())
        return false;
    // Every prefix ending before a "/" is a parent; the path itself comes last.
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos < dir.size() && dir[pos] != '/')
            continue;
        if (dir[pos - 1] == '/')
            continue;
        const std::string prefix = dir.substr(0, pos);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return IsExistingDirectory(dir);
}
