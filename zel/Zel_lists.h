#pragma once
// Reorder records: every change of order is computed as one permutation and
// applied in the same form to the entries and to the rows' states.

#include <vector>

struct TReorderRecord {
    int OldIndex;
    int NewIndex;
    bool operator==(const TReorderRecord&) const = default;
};
using TReorderRecords = std::vector<TReorderRecord>;
