// The decode scale of a fitted preview: the smallest libjpeg scale whose
// picture still has a pixel for every pixel the box shows.

#include <gtest/gtest.h>

#include "imaging/Jpeg.h"

namespace vmk {
namespace {

using R = TJPEGReduceBy;

TEST(ReductionToFill, TakesTheSmallestScaleThatStillFillsTheBox) {
    // 4000 x 3000 in 480 x 360: an eighth gives 500 x 375, enough.
    EXPECT_EQ(ReductionToFill(4000, 3000, 480, 360), R::ReduceEighth);
    // In 600 x 450 an eighth is short; a quarter (1000 x 750) fills it.
    EXPECT_EQ(ReductionToFill(4000, 3000, 600, 450), R::ReduceQuarter);
    // 1600 x 1200 in 480 x 360: a quarter is 400 wide, short; a half fills it.
    EXPECT_EQ(ReductionToFill(1600, 1200, 480, 360), R::ReduceHalf);
    // Just larger than the box: whole.
    EXPECT_EQ(ReductionToFill(500, 300, 480, 360), R::ReduceNone);
}

TEST(ReductionToFill, TheTighterSideDecidesAndOddSidesRoundUp) {
    // A tall picture in a wide box: its height decides (shown 120 x 360).
    EXPECT_EQ(ReductionToFill(1000, 3000, 480, 360), R::ReduceEighth);
    EXPECT_EQ(ReductionToFill(1000, 3000, 480, 700), R::ReduceQuarter);
    // libjpeg rounds a scaled side up: 2873 / 8 gives 360, which fills 360.
    EXPECT_EQ(ReductionToFill(2873, 2873, 360, 360), R::ReduceEighth);
    EXPECT_EQ(ReductionToFill(2872, 2872, 360, 360), R::ReduceQuarter);
}

TEST(ReductionToFill, NothingToFitDecodesWhole) {
    EXPECT_EQ(ReductionToFill(100, 100, 480, 360), R::ReduceNone);
    EXPECT_EQ(ReductionToFill(4000, 3000, 0, 360), R::ReduceNone);
    EXPECT_EQ(ReductionToFill(4000, 3000, 480, -1), R::ReduceNone);
    EXPECT_EQ(ReductionToFill(0, 0, 480, 360), R::ReduceNone);
    // A sliver: the shown height is at least one pixel.
    EXPECT_EQ(ReductionToFill(65535, 1, 100, 100), R::ReduceEighth);
}

}  // namespace
}  // namespace vmk
