#include "platform/Clock.h"
#include "platform/Random.h"

#include <gtest/gtest.h>
#include <set>

using namespace pellora;

TEST(Clock, IsMonotonicSixtyFourBitAndReplaceable) {
    std::int64_t a = GetTickCount64();
    std::int64_t b = GetTickCount64();
    EXPECT_LE(a, b);
    // Past the 32-bit range the clock keeps counting instead of wrapping to zero.
    TickSource previous = ReplaceTickSource([] { return std::int64_t{1} << 33; });
    EXPECT_EQ(GetTickCount64(), std::int64_t{1} << 33);
    ReplaceTickSource(previous);
    EXPECT_GE(GetTickCount64(), b);
}

TEST(Random, DrawsWithinRangeAndCoversIt) {
    std::set<int> seen;
    for (int i = 0; i < 2000; ++i) {
        int value = Random(7);
        ASSERT_GE(value, 0);
        ASSERT_LT(value, 7);
        seen.insert(value);
    }
    EXPECT_EQ(seen.size(), 7u);
    EXPECT_EQ(Random(0), 0);
    EXPECT_EQ(Random(-3), 0);
}

TEST(Random, EachNewGeneratorIsSeededDifferently) {
    // Two starts of the program must not replay the same sequence.
    auto first = MakeDefaultRandom();
    auto second = MakeDefaultRandom();
    std::vector<int> a, b;
    for (int i = 0; i < 32; ++i) {
        a.push_back(first->Random(1000000));
        b.push_back(second->Random(1000000));
    }
    EXPECT_NE(a, b);
}

TEST(Random, TheProgramWideGeneratorCanBeReplaced) {
    struct Fixed : RandomGenerator {
        void Randomize() override { ++Seeds; }
        std::int32_t Random(std::int32_t n) override { return n - 1; }
        int Seeds = 0;
    };
    auto fixed = std::make_unique<Fixed>();
    Fixed* raw = fixed.get();
    auto previous = ReplaceProgramRandom(std::move(fixed));
    EXPECT_EQ(Random(10), 9);
    Randomize();
    EXPECT_EQ(raw->Seeds, 1);
    ReplaceProgramRandom(std::move(previous));
    EXPECT_LT(Random(10), 10);
}
