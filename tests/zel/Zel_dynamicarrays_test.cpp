#include "Zel_dynamicarrays.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;
using S = TStringDynArray;

TEST(Zel_dynamicarrays, BuilderGrowsByHalfAndHandsOverItsItems)
{
    TDynamicArrayBuilder<int> builder;
    EXPECT_EQ(builder.Capacity(), 0);
    std::vector<int> lengths;
    for (int i = 0; i < 203; ++i) {
        ASSERT_EQ(builder.Add(i * 10), i);
        if (lengths.empty() || lengths.back() != builder.Capacity())
            lengths.push_back(builder.Capacity());
        if (i == 8) {
            EXPECT_EQ(builder.Capacity(), 12);
        }
    }
    EXPECT_EQ(lengths, (std::vector<int>{8, 12, 18, 27, 40, 60, 90, 135, 202, 303}));

    const std::vector<int> copy = builder.ToArray();
    EXPECT_EQ(copy.size(), 203u);
    EXPECT_EQ(copy[202], 2020);
    EXPECT_EQ(builder.Count(), 203);
    EXPECT_EQ(builder.Extract(), copy);
    EXPECT_EQ(builder.Count(), 0);
    EXPECT_EQ(builder.Capacity(), 0);
    EXPECT_TRUE(builder.Extract().empty());
}

TEST(Zel_dynamicarrays, BuilderCapacityIsExactAndNeverBelowTheCount)
{
    TDynamicArrayBuilder<int> builder;
    builder.SetCapacity(3);
    builder.Clear(); // nothing added yet: the capacity stays
    EXPECT_EQ(builder.Capacity(), 3);
    for (int i = 0; i < 3; ++i)
        builder.Add(i + 1);
    EXPECT_EQ(builder.Capacity(), 3);

    try {
        builder.SetCapacity(2);
        FAIL() << "SetCapacity below the count succeeded";
    } catch (const EDynamicArrayError& e) {
        EXPECT_EQ(e.Message(), "The program cannot set the capacity.");
    }
    EXPECT_THROW(builder.SetCapacity(-1), EDynamicArrayError);
    EXPECT_EQ(builder.Count(), 3);
    EXPECT_EQ(builder.Capacity(), 3);
    EXPECT_EQ(builder.ToArray(), (std::vector<int>{1, 2, 3}));

    builder.SetCapacity(100);
    EXPECT_EQ(builder.Capacity(), 100);
    builder.SetCapacity(3); // shrinking keeps the items
    EXPECT_EQ(builder.ToArray(), (std::vector<int>{1, 2, 3}));
    builder.Add(4);
    EXPECT_EQ(builder.Capacity(), 8); // below 8 it grows to 8

    builder.Clear();
    EXPECT_EQ(builder.Count(), 0);
    EXPECT_EQ(builder.Capacity(), 0);
}

TEST(Zel_dynamicarrays, TextToArraySplitsAtEveryKindOfLineBreak)
{
    EXPECT_TRUE(TextToArray("").empty());
    EXPECT_EQ(TextToArray("a"), (S{"a"}));
    EXPECT_EQ(TextToArray("a\r\nb\r\n"), (S{"a", "b"}));
    EXPECT_EQ(TextToArray("\r\n\r\n"), (S{"", ""}));
    EXPECT_EQ(TextToArray("a\rb\nc"), (S{"a", "b", "c"}));
    EXPECT_EQ(TextToArray("a\n\rb"), (S{"a", "", "b"})); // LF CR is two breaks
    EXPECT_EQ(TextToArray("a\r\r\nb"), (S{"a", "", "b"}));
    EXPECT_EQ(TextToArray("  \n"), (S{"  "}));
    EXPECT_EQ(TextToArray("a\r\nb\0c\r\nd"s), (S{"a", "b"}));
    EXPECT_TRUE(TextToArray("\0a"s).empty());
}

TEST(Zel_dynamicarrays, StringConversionsKeepOrderAndDropOnlyEmptyItems)
{
    EXPECT_EQ(RemoveEmptyStrings({"a", "", "", "b", ""}), (S{"a", "b"}));
    EXPECT_EQ(RemoveEmptyStrings({" ", "", "\t"}), (S{" ", "\t"}));
    EXPECT_TRUE(RemoveEmptyStrings({"", ""}).empty());

    const std::vector<std::string> strings{"x", "", "y"};
    EXPECT_EQ(StringsToArray(strings), (S{"x", "", "y"}));
    std::vector<std::string> list{"old1", "old2", "old3", "old4"};
    ArrayToStrings({"p", "q"}, list);
    EXPECT_EQ(list, (std::vector<std::string>{"p", "q"}));
    ArrayToStrings({}, list);
    EXPECT_TRUE(list.empty());
}
