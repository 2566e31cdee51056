#include "TempDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Removes name under dirFd and everything beneath it, one level at a time
// relative to its parent, so that no path ever exceeds PATH_MAX.
void RemoveTree(int dirFd, const char* name)
{
    if (::unlinkat(dirFd, name, 0) == 0 || (errno != EISDIR && errno != EPERM))
        return;
    const int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fchmod(fd, 0700); // a test may have taken our own rights away
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            RemoveTree(::dirfd(dir), entry->d_name);
    }
    ::closedir(dir);
    ::unlinkat(dirFd, name, AT_REMOVEDIR);
}

} // namespace

TTempDirectory::TTempDirectory()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/dorvane-test-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary directory");
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(pattern.c_str(), nullptr), &std::free);
    FPath = real ? real.get() : pattern;
}

TTempDirectory::~TTempDirectory()
{
    RemoveTree(AT_FDCWD, FPath.c_str());
}

std::string TTempDirectory::WriteFile(const std::string& name, const std::string& contents) const
{
    const std::string path = *this / name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

std::string TTempDirectory::MakeDir(const std::string& name) const
{
    const std::string path = *this / name;
    ::mkdir(path.c_str(), 0755);
    return path;
}

std::string ReadFileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
