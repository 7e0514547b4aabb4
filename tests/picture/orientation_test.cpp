#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "picture/orientation.h"

namespace {

// A 3 x 2 picture whose pixel (x, y) holds the number 10 * y + x in blue.
Picture numbered()
{
    Picture picture(3, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x) {
            uint8_t* pixel = picture.row(y) + 3 * x;
            pixel[0] = static_cast<uint8_t>(10 * y + x);
            pixel[1] = 0;
            pixel[2] = 0;
        }
    return picture;
}

std::vector<std::vector<int>> rowsOf(const Picture& picture)
{
    std::vector<std::vector<int>> rows;
    for (int32_t y = 0; y < picture.height(); ++y) {
        rows.emplace_back();
        for (int32_t x = 0; x < picture.width(); ++x)
            rows.back().push_back(picture.row(y)[3 * x]);
    }
    return rows;
}

} // namespace

// The stored picture is   0  1  2
//                        10 11 12
TEST(Orientation, EachOrientationLaysThePixelsOutAsNamed)
{
    const Picture stored = numbered();
    using Rows = std::vector<std::vector<int>>;
    EXPECT_EQ(rowsOf(turnedPicture(stored, Orientation::Upright)), (Rows {{0, 1, 2}, {10, 11, 12}}));
    EXPECT_EQ(rowsOf(turnedPicture(stored, Orientation::Turned90)), (Rows {{10, 0}, {11, 1}, {12, 2}}));
    EXPECT_EQ(rowsOf(turnedPicture(stored, Orientation::Turned180)), (Rows {{12, 11, 10}, {2, 1, 0}}));
    EXPECT_EQ(rowsOf(turnedPicture(stored, Orientation::Turned270)), (Rows {{2, 12}, {1, 11}, {0, 10}}));
    EXPECT_EQ(rowsOf(turnedPicture(stored, Orientation::Mirrored)), (Rows {{2, 1, 0}, {12, 11, 10}}));
    EXPECT_EQ(rowsOf(turnedPicture(stored, Orientation::MirroredTurned90)), (Rows {{12, 2}, {11, 1}, {10, 0}}));
    EXPECT_EQ(rowsOf(turnedPicture(stored, Orientation::MirroredTurned180)), (Rows {{10, 11, 12}, {0, 1, 2}}));
    EXPECT_EQ(rowsOf(turnedPicture(stored, Orientation::MirroredTurned270)), (Rows {{0, 10}, {1, 11}, {2, 12}}));
}

TEST(Orientation, NamesRoundTripAndAreDistinct)
{
    std::set<std::string_view> names;
    for (int32_t i = 0; i < kOrientationCount; ++i) {
        const Orientation orientation = orientationAt(i);
        names.insert(orientationName(orientation));
        EXPECT_EQ(orientationNamed(orientationName(orientation)), orientation);
    }
    EXPECT_EQ(names.size(), 8U);
    EXPECT_EQ(orientationNamed("turn45"), std::nullopt);
}
