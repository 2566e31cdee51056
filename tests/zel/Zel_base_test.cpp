#include "Zel_base.h"

#include <gtest/gtest.h>

TEST(Zel_base, AbortsAreRecognisedThroughDerivedClasses)
{
    struct EMyAbort : EAbort {
        EMyAbort() : EAbort("skip") {}
    };
    EXPECT_TRUE(IsAbort(EAbort()));
    EXPECT_TRUE(IsAbort(EMyAbort()));
    EXPECT_FALSE(IsAbort(EInvalidOperation("x")));
    EXPECT_EQ(std::string(EMyAbort().what()), "skip");
}

TEST(Zel_base, ListIndexCheckRejectsBothEdges)
{
    EXPECT_NO_THROW(CheckListIndex(0, 1));
    EXPECT_THROW(CheckListIndex(-1, 1), EListError);
    EXPECT_THROW(CheckListIndex(1, 1), EListError);
    EXPECT_THROW(CheckListIndex(0, 0), EListError);
}
