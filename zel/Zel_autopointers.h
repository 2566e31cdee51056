#pragma once
// Owning pointers: they delete their object or array when they go out of
// scope, also while an exception passes.

#include <memory>

template <typename T>
using TAutoPointer = std::unique_ptr<T>;

template <typename T>
using TAutoArray = std::unique_ptr<T[]>;
