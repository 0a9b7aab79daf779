// Array<T>: its growth and reset rules, and what it does when memory runs out
// (failures are injected through ArrayReallocate).

#include <vector>

#include <gtest/gtest.h>

#include "FailingAllocator.h"
#include "framework/Array.h"

namespace {

using frameworktest::FailingAllocator;
using Pointers = Array<int*>;

int slots[200];

void Fill(Pointers& array, int n) {
    for (int i = 0; i < n; ++i) array.Add(&slots[i]);
}

TEST(Array, GrowsByDoublingAndResetsWhenEmptied) {
    struct Case {
        int added;
        int capacity;
    };
    const Case cases[] = {{0, 32}, {1, 32}, {32, 32}, {33, 64}, {64, 64}, {65, 128}, {129, 256}};
    for (const Case& c : cases) {
        Pointers array;
        Fill(array, c.added);
        EXPECT_EQ(array.Count(), c.added);
        EXPECT_EQ(array.Capacity(), c.capacity) << c.added << " elements";
        for (int i = 0; i < c.added; ++i) ASSERT_EQ(array[i], &slots[i]);
    }

    // 32 -> 64 -> 32: storage never shrinks until the last element goes.
    Pointers array;
    Fill(array, 33);
    for (int i = 0; i < 32; ++i) array.RemoveAt(0);
    EXPECT_EQ(array.Count(), 1);
    EXPECT_EQ(array.Capacity(), 64);
    EXPECT_EQ(array[0], &slots[32]);
    array.RemoveAt(0);
    EXPECT_EQ(array.Count(), 0);
    EXPECT_EQ(array.Capacity(), 32);
    Fill(array, 40);
    EXPECT_EQ(array.Capacity(), 64);
}

TEST(Array, RemovalKeepsTheOrderOfTheRest) {
    int a, b, c;
    Pointers array;
    for (int* p : {&a, &b, &a, &c, &a}) array.Add(p);
    array.RemoveAt(1);
    EXPECT_EQ(std::vector<int*>(array.begin(), array.end()), (std::vector<int*>{&a, &a, &c, &a}));
    array.Remove(&a);  // every occurrence
    EXPECT_EQ(std::vector<int*>(array.begin(), array.end()), (std::vector<int*>{&c}));
    array.RemoveAt(-1);
    array.RemoveAt(1);
    EXPECT_EQ(array.Count(), 1);
    EXPECT_EQ(array.IndexOf(&c), 0);
    EXPECT_FALSE(array.Contains(&a));
}

TEST(Array, EnsureRoomReachesTheCapacityThatAddingWouldGive) {
    for (int total : {1, 32, 33, 64, 65, 100}) {
        Pointers reserved, added;
        reserved.EnsureRoom(total);
        Fill(added, total);
        EXPECT_EQ(reserved.Capacity(), added.Capacity()) << total;
        EXPECT_EQ(reserved.Count(), 0);
    }
}

TEST(Array, FailedGrowthThrowsZeroAndKeepsTheArray) {
    Pointers array;
    Fill(array, 32);
    int* const* before = &array[0];
    {
        FailingAllocator failing(0);
        try {
            array.Add(&slots[32]);
            FAIL() << "no exception";
        } catch (Pointers::exception e) {
            EXPECT_EQ(static_cast<int>(e), 0);
        }
        EXPECT_THROW(array.EnsureRoom(33), Pointers::exception);
    }
    EXPECT_EQ(array.Count(), 32);
    EXPECT_EQ(array.Capacity(), 32);
    EXPECT_EQ(&array[0], before);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(array[i], &slots[i]);
    // Still usable afterwards.
    array.Add(&slots[32]);
    EXPECT_EQ(array.Capacity(), 64);
    EXPECT_EQ(array[32], &slots[32]);
}

TEST(Array, FailedFirstAllocationThrowsFromTheConstructor) {
    FailingAllocator failing(0);
    EXPECT_THROW(Pointers array, Pointers::exception);
}

// Shrinking back to 32 cannot lose data: if the allocator refuses, the larger
// block stays and the array is empty and usable.
TEST(Array, FailedShrinkKeepsTheLargerStorage) {
    Pointers array;
    Fill(array, 33);
    FailingAllocator failing(0);
    array.Remove(&slots[0]);
    for (int i = 1; i < 33; ++i) array.RemoveAt(0);
    EXPECT_EQ(array.Count(), 0);
    EXPECT_EQ(array.Capacity(), 64);
    Fill(array, 64);
    EXPECT_EQ(array[63], &slots[63]);
}

}  // namespace
