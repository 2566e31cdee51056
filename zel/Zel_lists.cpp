#include "Zel_lists.h"

#include "Zel_base.h"
#include "Zel_translations.h"

#include <cstdint>

TReorderRecords TListAlgorithms::Sort(int count, TIndexComparer comparer, void* context)
{
    return Sort(count, [comparer, context](int a, int b) { return comparer(a, b, context); });
}

TReorderRecords TListAlgorithms::Reverse(int count)
{
    TReorderRecords records;
    if (count <= 0)
        return records;
    records.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        records.push_back({i, count - 1 - i});
    return records;
}

// Moving the selected items one at a time through the window, each shifting
// the items it passes, costs O(window * selected). The outcome has a closed
// form: with the selected items in ascending order, item j (at window position
// q) ends at max(q - step, j) when moving towards 0 and at
// min(q + step, length - selected + j) when moving towards the end, and the
// unselected items fill the other places in their old order. So one walk
// over the window gives the records, in the same order.
TReorderRecords TListAlgorithms::Slide(int count, const TIntegerDynArray& indexes, int distance)
{
    if (count <= 0 || indexes.empty() || distance == 0)
        return {};

    bool ascending = true;
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        CheckListIndex(indexes[i], count);
        if (i > 0 && indexes[i] <= indexes[i - 1])
            ascending = false;
    }
    // Callers pass ascending positions; anything else means the same set.
    TIntegerDynArray normalized;
    if (!ascending) {
        normalized = indexes;
        std::sort(normalized.begin(), normalized.end());
        normalized.erase(std::unique(normalized.begin(), normalized.end()), normalized.end());
    }
    const TIntegerDynArray& selected = ascending ? indexes : normalized;
    // Counted after repeats are gone: every item selected leaves nothing to pass.
    if (selected.size() == static_cast<std::size_t>(count))
        return {};
    const std::int64_t selectedCount = static_cast<std::int64_t>(selected.size());

    const std::int64_t step = distance < 0 ? -static_cast<std::int64_t>(distance) : distance;
    const std::int64_t first = selected.front();
    const std::int64_t last = selected.back();
    const std::int64_t lo = distance < 0 ? std::max<std::int64_t>(0, first - step) : first;
    const std::int64_t hi = distance < 0 ? last : std::min<std::int64_t>(count - 1, last + step);
    const std::int64_t length = hi - lo + 1;

    auto target = [&](std::int64_t j) {
        const std::int64_t q = selected[static_cast<std::size_t>(j)] - lo;
        return distance < 0 ? std::max(q - step, j) : std::min(q + step, length - selectedCount + j);
    };

    // Each selected item changes at most its own and step other positions.
    TReorderRecords records;
    records.reserve(static_cast<std::size_t>(
        std::min(length, selectedCount * std::min(step + 1, length))));
    std::int64_t next = 0;            // the next selected item to place
    std::int64_t nextTarget = target(0);
    std::int64_t unselected = 0;      // window position of the next unselected candidate
    std::int64_t skip = 0;            // the next selected item the unselected walk must pass
    for (std::int64_t k = 0; k < length; ++k) {
        std::int64_t index;
        if (next < selectedCount && nextTarget == k) {
            index = selected[static_cast<std::size_t>(next)];
            if (++next < selectedCount)
                nextTarget = target(next);
        } else {
            while (skip < selectedCount && selected[static_cast<std::size_t>(skip)] - lo == unselected) {
                ++skip;
                ++unselected;
            }
            index = lo + unselected;
            ++unselected;
        }
        if (index != lo + k)
            records.push_back({static_cast<int>(index), static_cast<int>(lo + k)});
    }
    return records;
}

TReorderRecords TListAlgorithms::OrderToRecords(const std::vector<int>& order)
{
    TReorderRecords records;
    const int count = static_cast<int>(order.size());
    for (int p = 0; p < count; ++p) {
        if (order[static_cast<std::size_t>(p)] != p)
            records.push_back({order[static_cast<std::size_t>(p)], p});
    }
    return records;
}

void CheckReorderRecords(const TReorderRecords& records, std::size_t count)
{
    enum : unsigned char { OldSeen = 1, NewSeen = 2 };
    std::vector<unsigned char> seen(count, 0);
    const auto size = static_cast<long long>(count);
    for (const TReorderRecord& record : records) {
        CheckListIndex(record.OldIndex, size);
        CheckListIndex(record.NewIndex, size);
        unsigned char& oldMark = seen[static_cast<std::size_t>(record.OldIndex)];
        unsigned char& newMark = seen[static_cast<std::size_t>(record.NewIndex)];
        if ((oldMark & OldSeen) || (newMark & NewSeen))
            throw EListError(Tr("The program cannot reorder the list."));
        oldMark |= OldSeen;
        newMark |= NewSeen;
    }
    // Equal numbers of distinct old and new indexes: every old index must
    // also be a new one, or some slot would be left without its item.
    for (const TReorderRecord& record : records) {
        if (seen[static_cast<std::size_t>(record.OldIndex)] != (OldSeen | NewSeen))
            throw EListError(Tr("The program cannot reorder the list."));
    }
}
