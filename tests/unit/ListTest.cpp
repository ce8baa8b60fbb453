// The list container's operations and clamping rules.
#include <gtest/gtest.h>
#include "TKXList.h"

namespace {

struct Block16 {
    unsigned long long a, b;
};

TEST(TKXList, PushIndexInsertRemoveWithClamping) {
    TKXList<int> l;
    EXPECT_TRUE(l.empty());
    EXPECT_EQ(l[0], 0) << "empty list yields a value-initialised slot";
    for (int i = 1; i <= 3; ++i) l.push_back(i * 10);
    EXPECT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0], 10);
    EXPECT_EQ(l[2], 30);
    EXPECT_EQ(l[3], 30) << "index past the end yields the last element";
    EXPECT_EQ(l[1000], 30);

    l.insert(5, 0);
    l.insert(15, 2);
    l.insert(99, 50);  // past the end appends
    int expect[] = {5, 10, 15, 20, 30, 99};
    ASSERT_EQ(l.size(), 6u);
    for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(l[i], expect[i]) << i;

    l.remove(100);  // past the end removes the last
    EXPECT_EQ(l.size(), 5u);
    EXPECT_EQ(l[4], 30);
    l.remove(0);
    EXPECT_EQ(l[0], 10);
    l.pop_back();
    EXPECT_EQ(l.size(), 3u);
    EXPECT_EQ(l[2], 20);
}

TEST(TKXList, AtReturnsEndSentinelPastTheEnd) {
    TKXList<int> l;
    auto* endOfEmpty = l.at(0);
    l.push_back(1);
    EXPECT_EQ(l.at(0)->value, 1);
    EXPECT_EQ(l.at(1), endOfEmpty) << "the end sentinel is the same node";
    EXPECT_EQ(l.at(7), endOfEmpty);
}

TEST(TKXList, EmptyListOperationsTouchNothing) {
    TKXList<int*> l;
    l.pop_back();
    l.remove(0);
    l.remove(5);
    l.clear();
    EXPECT_TRUE(l.empty());
    EXPECT_EQ(l[0], nullptr);
}

TEST(TKXList, PointerListNeverFreesValuesAndValueTypesAreStoredInline) {
    int owned = 7;
    {
        TKXList<int*> l;
        l.push_back(&owned);  // a stack object: deleting it would crash
        l.clear();
        l.push_back(&owned);
    }
    EXPECT_EQ(owned, 7);

    TKXList<Block16> blocks;
    Block16 b{1, 2};
    blocks.push_back(b);
    b.a = 9;  // the list holds its own copy
    EXPECT_EQ(blocks[0].a, 1u);
    EXPECT_EQ(blocks[0].b, 2u);
}

TEST(TKXList, InitForgetsNodesWithoutFreeingThem) {
    TKXList<unsigned char> l;
    l.push_back(1);
    l.push_back(2);
    auto* first = l.at(0);
    l.init();
    EXPECT_EQ(l.size(), 0u);
    EXPECT_TRUE(l.empty());
    delete first->next;  // the nodes still exist and belong to us now
    delete first;
}

}  // namespace
