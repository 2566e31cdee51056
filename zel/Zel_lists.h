#pragma once
// Reorder records: every change of order is computed as one permutation and
// applied in the same form to the entries and to the rows' states.

#include "Zel_dynamicarrays.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <numeric>
#include <utility>
#include <vector>

struct TReorderRecord {
    int OldIndex;
    int NewIndex;
    bool operator==(const TReorderRecord&) const = default;
};
using TReorderRecords = std::vector<TReorderRecord>;

// Negative, zero or positive as the item at a sorts before, with or after the
// item at b.
using TIndexComparer = int (*)(int a, int b, void* context);

class TListAlgorithms {
public:
    // Stable ascending order: items the comparer finds equal keep their
    // relative order. Only items that move get a record, by new position.
    static TReorderRecords Sort(int count, TIndexComparer comparer, void* context);
    // The same with any callable compare(a, b) -> int, inlined into the sort;
    // meant for callers that compare precomputed keys.
    template <typename TCompare>
    static TReorderRecords Sort(int count, TCompare compare);
    // One record per item, {i, count - 1 - i}, the middle one included.
    static TReorderRecords Reverse(int count);
    // Moves every selected item up to |distance| places (negative: towards 0)
    // over unselected items only; a selected block moves as a whole and an item
    // held at the edge holds back those behind it. Indexes must lie in
    // 0 .. count - 1 (EListError otherwise).
    static TReorderRecords Slide(int count, const TIntegerDynArray& indexes, int distance);

private:
    // Records for the items whose position in order differs from their own.
    static TReorderRecords OrderToRecords(const std::vector<int>& order);
};

template <typename TCompare>
TReorderRecords TListAlgorithms::Sort(int count, TCompare compare)
{
    if (count <= 0)
        return {};
    std::vector<int> order(static_cast<std::size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    // The tie-break by position makes every pair distinct, so the unstable
    // sort gives the stable result.
    std::sort(order.begin(), order.end(), [&compare](int a, int b) {
        const int result = compare(a, b);
        return result != 0 ? result < 0 : a < b;
    });
    return OrderToRecords(order);
}

// Throws EListError unless records describe a permutation of positions in
// 0 .. count - 1 (every index in range, no old or new index twice, and the
// same set of old and new indexes).
void CheckReorderRecords(const TReorderRecords& records, std::size_t count);

// Moves the item at each record's old index to its new index. Checked first,
// so invalid records leave the list untouched; the two passes through a
// temporary make overlapping moves safe.
template <typename T>
void ReorderList(std::vector<T>& list, const TReorderRecords& records)
{
    if (records.empty())
        return;
    CheckReorderRecords(records, list.size());
    std::vector<T> items;
    items.reserve(records.size());
    for (const TReorderRecord& record : records)
        items.push_back(std::move(list[static_cast<std::size_t>(record.OldIndex)]));
    for (std::size_t i = 0; i < records.size(); ++i)
        list[static_cast<std::size_t>(records[i].NewIndex)] = std::move(items[i]);
}

// ReorderList for a list that owns its items: the owning pointers only move,
// so no item is destroyed. Everything that can fail (the check, the
// temporary) happens before the first pointer moves.
template <typename T>
void ReorderObjectList(std::vector<std::unique_ptr<T>>& list, const TReorderRecords& records)
{
    ReorderList(list, records);
}

// Raises the list's capacity to at least capacity; never lowers it.
template <typename T>
void EnsureListCapacity(std::vector<T>& list, std::ptrdiff_t capacity)
{
    if (capacity > 0 && static_cast<std::size_t>(capacity) > list.capacity())
        list.reserve(static_cast<std::size_t>(capacity));
}
