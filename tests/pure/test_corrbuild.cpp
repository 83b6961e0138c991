// The correction table's build rules on the pure builder: repeated
// positions, gaps and zeros, drops repaired left to right.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "com232/corrtable.h"

namespace {

using Group = orv::CorrTable;

class CorrBuild : public ::testing::Test {
  protected:
    Group values{}, positions{}, third{};

    void SetUp() override {
        // Every unused pair gives the last position the value 0: a gap that
        // takes its left neighbour, so it changes nothing else.
        values.fill(0);
        positions.fill(1023);
        third.fill(7);
    }

    // Pairs (position, value) in element order from element 0 on.
    void Pairs(const std::vector<std::pair<int32_t, int32_t>>& pairs) {
        for (std::size_t j = 0; j < pairs.size(); ++j) {
            positions[j] = pairs[j].first;
            values[j] = pairs[j].second;
        }
    }

    Group Build() {
        std::array<int32_t, orv::CORR_ELEMENTS> all{};
        std::copy(values.begin(), values.end(), all.begin());
        std::copy(positions.begin(), positions.end(), all.begin() + 1024);
        std::copy(third.begin(), third.end(), all.begin() + 2048);
        int pair = -1;
        EXPECT_EQ(0, orv::CheckCorrSource(all.data(), &pair));
        Group p{}, t{};
        orv::BuildCorrTable(all.data(), p, t);
        for (int i = 0; i < 1024; ++i)
            EXPECT_EQ(positions[1023 - i], p[i]) << i;  // the positions back to front
        return t;
    }
};

TEST_F(CorrBuild, RepeatedPositionTakesTheLowestElementIndex) {
    Pairs({{0, 1}, {100, 9}, {100, 7}, {100, 8}});
    positions[900] = 100;  // a late pair naming the same position
    values[900] = 99;
    const Group t = Build();
    EXPECT_EQ(9, t[100]);
    EXPECT_EQ(9, t[500]);  // carried forward through the gaps
}

TEST_F(CorrBuild, GapsAndZerosTakeTheEntryBefore) {
    Pairs({{10, 100}, {14, 140}, {199, 150}, {200, 0}, {201, 160}});
    const Group t = Build();
    // No pair names position 0: it stays 0 and the gap fill carries 0 on.
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(0, t[i]) << i;
    EXPECT_EQ((std::vector<int32_t>{100, 100, 100, 100, 140}), std::vector<int32_t>(&t[10], &t[15]));
    EXPECT_EQ(140, t[198]);
    EXPECT_EQ(150, t[199]);
    EXPECT_EQ(150, t[200]);  // a pair's value 0 is a gap like a missing pair
    EXPECT_EQ(160, t[201]);
    EXPECT_EQ(160, t[1023]);
}

TEST_F(CorrBuild, DropsAreRepairedLeftToRight) {
    Pairs({
        {300, 10},
        {301, 5},
        {302, 20},  // midpoint 15
        {400, 30},
        {401, 25},
        {402, 33},  // midpoint 31
        {500, 40},
        {501, 35},
        {502, 38},
        {503, 60},  // 40, then 38 meets 40: midpoint 50
        {1022, 90},
        {1023, 80},  // the last entry is raised
    });
    positions.back() = 1022;  // keep the fillers off the last entry
    const Group t = Build();
    EXPECT_EQ((std::vector<int32_t>{10, 15, 20}), std::vector<int32_t>(&t[300], &t[303]));
    EXPECT_EQ((std::vector<int32_t>{30, 31, 33}), std::vector<int32_t>(&t[400], &t[403]));
    EXPECT_EQ((std::vector<int32_t>{40, 40, 50, 60}), std::vector<int32_t>(&t[500], &t[504]));
    EXPECT_EQ(90, t[1022]);
    EXPECT_EQ(90, t[1023]);
    for (int i = 1; i < 1024; ++i)
        ASSERT_GE(t[i], t[i - 1]) << i;
}

TEST_F(CorrBuild, SourcesThatCannotBeBuiltAreNamedByTheirFirstBadPair) {
    std::array<int32_t, orv::CORR_ELEMENTS> all{};
    int pair = -1;
    EXPECT_EQ(0, orv::CheckCorrSource(all.data(), &pair));
    all[1024 + 7] = 1024;
    all[5] = -32768;  // what a word holds as its two's complement
    all[3] = 65536;
    EXPECT_EQ(orv::CORR_ERR_VALUE, orv::CheckCorrSource(all.data(), &pair));
    EXPECT_EQ(3, pair);
    all[1024 + 2] = -1;
    EXPECT_EQ(orv::CORR_ERR_POSITION, orv::CheckCorrSource(all.data(), &pair));
    EXPECT_EQ(2, pair);
}

}  // namespace
