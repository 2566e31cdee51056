#pragma once
// Scoped changes that tests make to the process, undone when the guard goes,
// and what a test needs to know of the build it runs in.

#include <sys/types.h>

#include <string>

// Sanitized builds run several times slower and keep freed memory in
// quarantine: loads shrink there and memory bounds are not checked.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
#else
constexpr bool Sanitized = false;
#endif

// The "nobody" user and group.
constexpr uid_t Nobody = 65534;

// Root ignores permission bits; file access as "nobody" makes them count.
// The file-system identity is per thread, so nothing else is affected.
class TUnprivileged {
public:
    TUnprivileged();
    TUnprivileged(const TUnprivileged&) = delete;
    TUnprivileged& operator=(const TUnprivileged&) = delete;
    ~TUnprivileged();

private:
    bool FActive;
};

// Puts the process's current directory back where it was.
class TCurrentDirGuard {
public:
    TCurrentDirGuard();
    TCurrentDirGuard(const TCurrentDirGuard&) = delete;
    TCurrentDirGuard& operator=(const TCurrentDirGuard&) = delete;
    ~TCurrentDirGuard();

private:
    std::string FSaved;
};
