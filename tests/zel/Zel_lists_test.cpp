#include "Zel_lists.h"

#include "Zel_base.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <random>
#include <set>
#include <string>

namespace {

using R = TReorderRecords;

// Moves the selected records one at a time through the window, the slow way
// the result is defined by; Slide must produce exactly its records.
R ReferenceSlide(int count, const TIntegerDynArray& indexes, int distance)
{
    struct TSlideRecord {
        int Index;
        bool Selected;
    };
    const std::set<int> distinct(indexes.begin(), indexes.end());
    if (count == 0 || indexes.empty() || static_cast<int>(distinct.size()) == count || distance == 0)
        return {};
    const long long first = *std::min_element(indexes.begin(), indexes.end());
    const long long last = *std::max_element(indexes.begin(), indexes.end());
    const long long step = std::llabs(static_cast<long long>(distance));
    const long long lo = distance < 0 ? std::max(0LL, first - step) : first;
    const long long hi = distance < 0 ? last : std::min<long long>(count - 1, last + step);
    std::vector<TSlideRecord> window;
    for (long long k = 0; k <= hi - lo; ++k)
        window.push_back({static_cast<int>(lo + k), false});
    for (const int index : indexes)
        window[static_cast<std::size_t>(index - lo)].Selected = true;
    const long long d = distance < 0 ? -1 : 1;
    const long long length = static_cast<long long>(window.size());
    auto visit = [&](long long p) {
        if (!window[static_cast<std::size_t>(p)].Selected)
            return;
        long long t = p;
        for (long long i = 0; i < step; ++i) {
            const long long n = t + d;
            if (n == -1 || n == length || window[static_cast<std::size_t>(n)].Selected)
                break;
            t = n;
        }
        const TSlideRecord moved = window[static_cast<std::size_t>(p)];
        window.erase(window.begin() + p);
        window.insert(window.begin() + t, moved);
    };
    if (distance < 0) {
        for (long long p = first - lo; p <= last - lo; ++p)
            visit(p);
    } else {
        for (long long p = last - lo; p >= first - lo; --p)
            visit(p);
    }
    R records;
    for (long long k = 0; k < length; ++k) {
        if (window[static_cast<std::size_t>(k)].Index != lo + k)
            records.push_back({window[static_cast<std::size_t>(k)].Index, static_cast<int>(lo + k)});
    }
    return records;
}

std::vector<int> Identity(int count)
{
    std::vector<int> items(static_cast<std::size_t>(count));
    std::iota(items.begin(), items.end(), 0);
    return items;
}

int CompareKeys(int a, int b, void* context)
{
    const auto& keys = *static_cast<const std::vector<int>*>(context);
    return keys[static_cast<std::size_t>(a)] - keys[static_cast<std::size_t>(b)];
}

} // namespace

TEST(Zel_lists, SortIsStableAndRecordsOnlyMovedItems)
{
    std::vector<int> keys{5, 5, 5, 5};
    EXPECT_TRUE(TListAlgorithms::Sort(4, CompareKeys, &keys).empty());
    keys = {1, 2, 3};
    EXPECT_TRUE(TListAlgorithms::Sort(3, CompareKeys, &keys).empty());
    EXPECT_TRUE(TListAlgorithms::Sort(0, CompareKeys, &keys).empty());

    keys = {'B', 'A', 'B'};
    EXPECT_EQ(TListAlgorithms::Sort(3, CompareKeys, &keys), (R{{1, 0}, {0, 1}}));

    // Against a stable sort, with many ties, through both overloads.
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        const int count = static_cast<int>(random() % 300);
        keys.assign(static_cast<std::size_t>(count), 0);
        for (int& key : keys)
            key = static_cast<int>(random() % 10);
        std::vector<int> expected = Identity(count);
        std::stable_sort(expected.begin(), expected.end(),
            [&](int a, int b) { return keys[static_cast<std::size_t>(a)] < keys[static_cast<std::size_t>(b)]; });

        const R records = TListAlgorithms::Sort(count, CompareKeys, &keys);
        EXPECT_EQ(records, TListAlgorithms::Sort(count, [&](int a, int b) { return CompareKeys(a, b, &keys); }));
        std::vector<int> items = Identity(count);
        ReorderList(items, records);
        ASSERT_EQ(items, expected) << "round " << round;
        for (const TReorderRecord& record : records)
            EXPECT_NE(record.OldIndex, record.NewIndex);
    }
}

TEST(Zel_lists, ReverseRecordsEveryItemIncludingTheMiddle)
{
    EXPECT_EQ(TListAlgorithms::Reverse(3), (R{{0, 2}, {1, 1}, {2, 0}}));
    EXPECT_EQ(TListAlgorithms::Reverse(2), (R{{0, 1}, {1, 0}}));
    EXPECT_TRUE(TListAlgorithms::Reverse(0).empty());
}

TEST(Zel_lists, SlideMovesOverUnselectedItemsOnly)
{
    // Held at the top, the first item stays; the other moves up.
    EXPECT_EQ(TListAlgorithms::Slide(5, {0, 2}, -1), (R{{2, 1}, {1, 2}}));
    // A block moves as a whole.
    EXPECT_EQ(TListAlgorithms::Slide(5, {1, 2}, -1), (R{{1, 0}, {2, 1}, {0, 2}}));
    EXPECT_EQ(TListAlgorithms::Slide(5, {2, 3}, 1), (R{{4, 2}, {2, 3}, {3, 4}}));
    // Blocks at the edges stay.
    EXPECT_TRUE(TListAlgorithms::Slide(5, {0, 1}, -1).empty());
    EXPECT_TRUE(TListAlgorithms::Slide(5, {3, 4}, 1).empty());
    // Everything selected, nothing selected, no distance, no items.
    EXPECT_TRUE(TListAlgorithms::Slide(4, {0, 1, 2, 3}, 1).empty());
    EXPECT_TRUE(TListAlgorithms::Slide(4, {}, 1).empty());
    EXPECT_TRUE(TListAlgorithms::Slide(4, {2}, 0).empty());
    EXPECT_TRUE(TListAlgorithms::Slide(0, {0}, 1).empty());
    // Two items moving down, the later one first.
    EXPECT_EQ(TListAlgorithms::Slide(6, {1, 4}, 1), (R{{2, 1}, {1, 2}, {5, 4}, {4, 5}}));
    // Long distances stop at the edge, behind the item placed before.
    EXPECT_EQ(TListAlgorithms::Slide(6, {2, 4}, -100), (R{{2, 0}, {4, 1}, {0, 2}, {1, 3}, {3, 4}}));
    EXPECT_EQ(TListAlgorithms::Slide(6, {1}, INT_MAX), (R{{2, 1}, {3, 2}, {4, 3}, {5, 4}, {1, 5}}));
    EXPECT_EQ(TListAlgorithms::Slide(6, {4}, INT_MIN), (R{{4, 0}, {0, 1}, {1, 2}, {2, 3}, {3, 4}}));

    EXPECT_THROW(TListAlgorithms::Slide(5, {1, 5}, 1), EListError);
    EXPECT_THROW(TListAlgorithms::Slide(5, {-1, 2}, -1), EListError);
    // As many indexes as items, yet not every item: repeats, or one out of range.
    EXPECT_EQ(TListAlgorithms::Slide(3, {1, 0, 0}, 1), (R{{2, 0}, {0, 1}, {1, 2}}));
    EXPECT_THROW(TListAlgorithms::Slide(2, {0, 5}, 1), EListError);
}

TEST(Zel_lists, SlideGivesTheRecordsOfStepwiseMoves)
{
    std::mt19937 random(11);
    const int distances[] = {1, -1, 2, -2, 5, -5, 1000, -1000, INT_MAX, INT_MIN};
    for (int round = 0; round < 4000; ++round) {
        const int count = static_cast<int>(random() % 41);
        const int density = 1 + static_cast<int>(random() % 8);
        TIntegerDynArray indexes;
        for (int i = 0; i < count; ++i) {
            if (static_cast<int>(random() % 8) < density)
                indexes.push_back(i);
        }
        // Now and then out of order and with repeats: the same set must give
        // the same records.
        if (round % 10 == 0 && !indexes.empty()) {
            indexes.push_back(indexes[random() % indexes.size()]);
            std::shuffle(indexes.begin(), indexes.end(), random);
        }
        const int distance = distances[round % std::size(distances)];
        const R records = TListAlgorithms::Slide(count, indexes, distance);
        ASSERT_EQ(records, ReferenceSlide(count, indexes, distance))
            << "count " << count << ", distance " << distance << ", round " << round;
        std::vector<int> items = Identity(count);
        ASSERT_NO_THROW(ReorderList(items, records));
    }
}

TEST(Zel_lists, ReorderListMovesThroughATemporary)
{
    int a = 0, b = 1, c = 2, d = 3;
    std::vector<int*> list{&a, &b, &c, &d};
    ReorderList(list, {{0, 1}, {1, 2}, {2, 0}}); // a cycle: each slot is read before written
    EXPECT_EQ(list, (std::vector<int*>{&c, &a, &b, &d}));
    ReorderList(list, {});
    EXPECT_EQ(list, (std::vector<int*>{&c, &a, &b, &d}));

    std::vector<std::string> names{"a", "b", "c"};
    ReorderList(names, TListAlgorithms::Reverse(3));
    EXPECT_EQ(names, (std::vector<std::string>{"c", "b", "a"}));
}

TEST(Zel_lists, ReorderObjectListKeepsEveryObjectAlive)
{
    struct TItem {
        int Id;
        int* Destroyed;
        ~TItem() { ++*Destroyed; }
    };
    int destroyed = 0;
    std::vector<std::unique_ptr<TItem>> list;
    std::vector<TItem*> identities;
    for (int i = 0; i < 1000; ++i) {
        list.push_back(std::make_unique<TItem>(i, &destroyed));
        identities.push_back(list.back().get());
    }

    TIntegerDynArray everyOther;
    for (int i = 0; i < 1000; i += 2)
        everyOther.push_back(i);
    const R records = TListAlgorithms::Slide(1000, everyOther, 1);
    ReorderObjectList(list, records);
    ReorderList(identities, records);
    EXPECT_EQ(destroyed, 0);
    for (std::size_t i = 0; i < list.size(); ++i) {
        ASSERT_EQ(list[i].get(), identities[i]);
        EXPECT_EQ(list[i]->Id, static_cast<int>(i ^ 1));
    }

    // Records that are no permutation would overwrite an owning slot.
    const std::vector<R> invalid{
        {{0, 1}},                  // item 1 would be dropped
        {{0, 1}, {1, 1}},          // two items for one place
        {{0, 1}, {0, 0}},          // one item in two places
        {{0, 1000}, {1000, 0}},    // beyond the end
        {{-1, 0}, {0, -1}},
    };
    for (const R& records : invalid) {
        EXPECT_THROW(ReorderObjectList(list, records), EListError);
        EXPECT_EQ(destroyed, 0);
        for (std::size_t i = 0; i < list.size(); ++i)
            ASSERT_EQ(list[i].get(), identities[i]);
    }

    list.clear();
    EXPECT_EQ(destroyed, 1000);
}

TEST(Zel_lists, EnsureListCapacityNeverLowers)
{
    std::vector<int*> list;
    EnsureListCapacity(list, 100);
    EXPECT_GE(list.capacity(), 100u);
    const std::size_t capacity = list.capacity();
    EnsureListCapacity(list, 10);
    EnsureListCapacity(list, -1);
    EXPECT_EQ(list.capacity(), capacity);
}
