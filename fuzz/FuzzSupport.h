#pragma once
// Shared by the fuzz targets: a broken property ends the run the way a crash
// does, so libFuzzer keeps the input that broke it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

[[noreturn]] inline void FuzzFail(const char* property, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, property);
    std::abort();
}

// Unlike assert, stays in optimised builds.
#define FUZZ_CHECK(property) ((property) ? void(0) : FuzzFail(#property, __FILE__, __LINE__))

inline std::string_view FuzzText(const std::uint8_t* data, std::size_t size)
{
    return std::string_view(reinterpret_cast<const char*>(data), size);
}
