// Sort and Slide against plain models: std::stable_sort of the positions, and
// a Slide that takes the selected items out and puts them back one at a time.

#include "FuzzSupport.h"

#include "Zel_base.h"
#include "Zel_lists.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <numeric>
#include <vector>

namespace {

std::vector<int> Identity(int count)
{
    std::vector<int> items(static_cast<std::size_t>(std::max(count, 0)));
    std::iota(items.begin(), items.end(), 0);
    return items;
}

// The records must be exactly the moved items, by new position.
void CheckRecords(const TReorderRecords& records, const std::vector<int>& expectedOrder)
{
    TReorderRecords expected;
    for (std::size_t k = 0; k < expectedOrder.size(); ++k)
        if (expectedOrder[k] != static_cast<int>(k))
            expected.push_back({expectedOrder[k], static_cast<int>(k)});
    FUZZ_CHECK(records == expected);
    std::vector<int> items = Identity(static_cast<int>(expectedOrder.size()));
    ReorderList(items, records);
    FUZZ_CHECK(items == expectedOrder);
}

int CompareKeys(int a, int b, void* context)
{
    const auto& keys = *static_cast<const std::vector<int>*>(context);
    return keys[static_cast<std::size_t>(a)] - keys[static_cast<std::size_t>(b)];
}

void FuzzSort(FuzzedDataProvider& input)
{
    const int count = input.ConsumeIntegralInRange(-1, 400);
    // Few distinct keys, so that ties are common and stability shows.
    const int distinct = input.ConsumeIntegralInRange(1, 16);
    std::vector<int> keys;
    for (int i = 0; i < count; ++i)
        keys.push_back(input.ConsumeIntegralInRange(0, distinct - 1));

    std::vector<int> expected = Identity(count);
    std::stable_sort(expected.begin(), expected.end(), [&keys](int a, int b) {
        return keys[static_cast<std::size_t>(a)] < keys[static_cast<std::size_t>(b)];
    });
    const TReorderRecords records = TListAlgorithms::Sort(count, CompareKeys, &keys);
    CheckRecords(records, expected);
    FUZZ_CHECK(TListAlgorithms::Sort(count, [&keys](int a, int b) { return CompareKeys(a, b, &keys); }) == records);
}

// Each selected item, the one nearest the edge it moves to first, is taken out
// and put back up to step places on, stopping before the edge or the next
// selected item.
std::vector<int> ModelSlide(int count, std::vector<int> selected, int distance)
{
    std::vector<int> order = Identity(count);
    std::sort(selected.begin(), selected.end());
    selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
    if (count <= 0 || selected.empty() || distance == 0)
        return order;
    std::vector<bool> isSelected(static_cast<std::size_t>(count), false);
    for (const int index : selected)
        isSelected[static_cast<std::size_t>(index)] = true;
    const long long step = std::min<long long>(std::llabs(static_cast<long long>(distance)), count);
    const int d = distance < 0 ? -1 : 1;
    if (d > 0)
        std::reverse(selected.begin(), selected.end());
    // Items not yet moved still stand at their own index.
    for (const int p : selected) {
        int t = p;
        for (long long i = 0; i < step; ++i) {
            const int n = t + d;
            if (n < 0 || n >= count || isSelected[static_cast<std::size_t>(order[static_cast<std::size_t>(n)])])
                break;
            t = n;
        }
        order.erase(order.begin() + p);
        order.insert(order.begin() + t, p);
    }
    return order;
}

void FuzzSlide(FuzzedDataProvider& input)
{
    const int count = input.ConsumeIntegralInRange(-1, 300);
    const bool exact = input.ConsumeBool(); // ascending without repeats, as callers pass them
    std::vector<int> indexes;
    bool valid = true;
    const int wanted = input.ConsumeIntegralInRange(0, std::max(count, 0) + 2);
    for (int i = 0; i < wanted && input.remaining_bytes() > 0; ++i) {
        // Now and then just outside the list.
        const int index = input.ConsumeIntegralInRange(-1, std::max(count, 0));
        valid = valid && index >= 0 && index < count;
        indexes.push_back(index);
    }
    if (exact) {
        std::sort(indexes.begin(), indexes.end());
        indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    }
    int distance;
    switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0: distance = input.ConsumeIntegralInRange(-4, 4); break;
    case 1: distance = input.ConsumeIntegralInRange(-count - 2, count + 2); break;
    case 2: distance = input.ConsumeBool() ? INT_MAX : INT_MIN; break;
    default: distance = input.ConsumeIntegral<int>(); break;
    }

    if (!valid) {
        // Nothing to move needs no check of the indexes.
        try {
            const TReorderRecords records = TListAlgorithms::Slide(count, indexes, distance);
            FUZZ_CHECK(records.empty() && (count <= 0 || distance == 0));
        } catch (const EListError&) {
        }
        return;
    }
    CheckRecords(TListAlgorithms::Slide(count, indexes, distance), ModelSlide(count, indexes, distance));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool())
        FuzzSort(input);
    else
        FuzzSlide(input);
    return 0;
}
