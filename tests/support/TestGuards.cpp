#include "TestGuards.h"

#include <filesystem>
#include <system_error>

#include <sys/fsuid.h>
#include <unistd.h>

TUnprivileged::TUnprivileged() : FActive(::geteuid() == 0)
{
    if (FActive) {
        ::setfsgid(Nobody);
        ::setfsuid(Nobody);
    }
}

TUnprivileged::~TUnprivileged()
{
    if (FActive) {
        ::setfsuid(0);
        ::setfsgid(0);
    }
}

TCurrentDirGuard::TCurrentDirGuard() : FSaved(std::filesystem::current_path().string()) {}

TCurrentDirGuard::~TCurrentDirGuard()
{
    std::error_code ignored;
    std::filesystem::current_path(FSaved, ignored);
}
