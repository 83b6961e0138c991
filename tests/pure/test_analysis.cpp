// Array shift and copy: results in place and between arrays, and the count
// checks that must leave the output untouched.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>

#include "analysis/analysis.h"

using namespace orv;

TEST(Analysis, ShiftInPlaceBothDirections) {
    std::array<double, 5> x{1, 2, 3, 4, 5};
    EXPECT_EQ(Shift(x.data(), 5, 2, x.data()), 0);
    EXPECT_EQ(x, (std::array<double, 5>{0, 0, 1, 2, 3}));

    x = {1, 2, 3, 4, 5};
    EXPECT_EQ(Shift(x.data(), 5, -2, x.data()), 0);
    EXPECT_EQ(x, (std::array<double, 5>{3, 4, 5, 0, 0}));

    x = {1, 2, 3, 4, 5};
    EXPECT_EQ(Shift(x.data(), 5, 4, x.data()), 0);
    EXPECT_EQ(x, (std::array<double, 5>{0, 0, 0, 0, 1}));
}

TEST(Analysis, ShiftBetweenArraysAndZeroShiftCopiesBitForBit) {
    const std::array<double, 4> x{-0.0, 1.5, NAN, 4};
    std::array<double, 4> y{9, 9, 9, 9};
    EXPECT_EQ(Shift(x.data(), 4, 0, y.data()), 0);
    EXPECT_TRUE(std::signbit(y[0]));
    EXPECT_EQ(y[1], 1.5);
    EXPECT_TRUE(std::isnan(y[2]));

    EXPECT_EQ(Shift(x.data(), 4, -1, y.data()), 0);
    EXPECT_EQ(y[0], 1.5);
    EXPECT_EQ(y[2], 4);
    EXPECT_EQ(y[3], 0.0);
    EXPECT_FALSE(std::signbit(y[3]));  // the filled element is +0.0
}

TEST(Analysis, BadCountsReturnCodesAndWriteNothing) {
    std::array<double, 3> x{1, 2, 3};
    std::array<double, 3> y{7, 7, 7};
    const std::array<double, 3> untouched = y;

    EXPECT_EQ(Shift(x.data(), 0, 0, y.data()), ERR_COUNT);
    EXPECT_EQ(Shift(x.data(), 0, 5, y.data()), ERR_COUNT);  // the count is tested first
    EXPECT_EQ(Shift(x.data(), -1, 0, y.data()), ERR_COUNT);
    EXPECT_EQ(Shift(x.data(), 3, 3, y.data()), ERR_SHIFT);
    EXPECT_EQ(Shift(x.data(), 3, -3, y.data()), ERR_SHIFT);
    EXPECT_EQ(Shift(x.data(), 3, INT_MIN, y.data()), ERR_SHIFT);
    EXPECT_EQ(Copy1D(x.data(), 0, y.data()), ERR_COUNT);
    EXPECT_EQ(y, untouched);

    EXPECT_EQ(Copy1D(x.data(), 3, y.data()), 0);
    EXPECT_EQ(y, x);
}
