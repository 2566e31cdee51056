#include "Zel_lists.h"

#include "Zel_base.h"

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
// the items it passes, costs O(window * selected). The outcome is simpler:
// a selected item goes |distance| places in the direction of travel, but
// never beyond the window and never onto or past the selected item placed
// before it (they are placed in the direction of travel), and the unselected
// items fill the remaining places in their old order. That is one pass.
TReorderRecords TListAlgorithms::Slide(int count, const TIntegerDynArray& indexes, int distance)
{
    if (count <= 0 || indexes.empty() || indexes.size() == static_cast<std::size_t>(count) || distance == 0)
        return {};

    int first = indexes.front();
    int last = indexes.front();
    for (const int index : indexes) {
        CheckListIndex(index, count);
        first = std::min(first, index);
        last = std::max(last, index);
    }

    const std::int64_t step = distance < 0 ? -static_cast<std::int64_t>(distance) : distance;
    std::int64_t lo;
    std::int64_t hi;
    if (distance < 0) {
        lo = std::max<std::int64_t>(0, first - step);
        hi = last;
    } else {
        lo = first;
        hi = std::min<std::int64_t>(count - 1, last + step);
    }
    const std::int64_t length = hi - lo + 1;

    std::vector<char> selected(static_cast<std::size_t>(length), 0);
    for (const int index : indexes)
        selected[static_cast<std::size_t>(index - lo)] = 1;

    // placed[t]: the list position of the selected item that ends at window
    // position t, or -1 where an unselected item will go.
    std::vector<int> placed(static_cast<std::size_t>(length), -1);
    const std::int64_t spanFirst = first - lo;
    const std::int64_t spanLast = last - lo;
    if (distance < 0) {
        std::int64_t bound = -1;
        for (std::int64_t p = spanFirst; p <= spanLast; ++p) {
            if (!selected[static_cast<std::size_t>(p)])
                continue;
            const std::int64_t t = std::max(p - step, bound + 1);
            placed[static_cast<std::size_t>(t)] = static_cast<int>(lo + p);
            bound = t;
        }
    } else {
        std::int64_t bound = length;
        for (std::int64_t p = spanLast; p >= spanFirst; --p) {
            if (!selected[static_cast<std::size_t>(p)])
                continue;
            const std::int64_t t = std::min(p + step, bound - 1);
            placed[static_cast<std::size_t>(t)] = static_cast<int>(lo + p);
            bound = t;
        }
    }

    // Each selected item changes at most its own and step other positions.
    const std::int64_t bound = std::min<std::int64_t>(
        length, static_cast<std::int64_t>(indexes.size()) * std::min<std::int64_t>(step + 1, length));
    TReorderRecords records;
    records.reserve(static_cast<std::size_t>(bound));
    std::int64_t unselected = 0;
    for (std::int64_t k = 0; k < length; ++k) {
        int index = placed[static_cast<std::size_t>(k)];
        if (index < 0) {
            while (selected[static_cast<std::size_t>(unselected)])
                ++unselected;
            index = static_cast<int>(lo + unselected);
            ++unselected;
        }
        const int position = static_cast<int>(lo + k);
        if (index != position)
            records.push_back({index, position});
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
            throw EListError("The program cannot reorder the list.");
        oldMark |= OldSeen;
        newMark |= NewSeen;
    }
    // Equal numbers of distinct old and new indexes: every old index must
    // also be a new one, or some slot would be left without its item.
    for (const TReorderRecord& record : records) {
        if (seen[static_cast<std::size_t>(record.OldIndex)] != (OldSeen | NewSeen))
            throw EListError("The program cannot reorder the list.");
    }
}
