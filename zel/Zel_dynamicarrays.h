#pragma once
// Index and string arrays, and the builder every index list is collected with.

#include <string>
#include <vector>

using TIntegerDynArray = std::vector<int>;
using TStringDynArray = std::vector<std::string>;
