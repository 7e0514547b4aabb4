#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "picture/picture.h"

// The eight ways a copy of a picture can lie: turned by quarters clockwise,
// each either as it is or mirrored left to right first. The numbers are the
// order in which a search tries them, upright first.
enum class Orientation : uint8_t {
    Upright = 0,
    Turned90 = 1,  // a quarter clockwise
    Turned180 = 2,
    Turned270 = 3, // a quarter anticlockwise
    Mirrored = 4,  // left and right swapped
    MirroredTurned90 = 5,
    MirroredTurned180 = 6, // upside down: top and bottom swapped
    MirroredTurned270 = 7, // rows become columns
};

inline constexpr int32_t kOrientationCount = 8;

inline Orientation orientationAt(int32_t index)
{
    return static_cast<Orientation>(index);
}

// Whether the turned picture's width is the stored picture's height.
bool swapsSides(Orientation orientation);

// The name the command line and the JSON use: "upright", "turn90",
// "turn180", "turn270", "mirror", "mirror-turn90", "mirror-turn180",
// "mirror-turn270".
std::string_view orientationName(Orientation orientation);
std::optional<Orientation> orientationNamed(std::string_view name);

struct PixelAt {
    int32_t x = 0;
    int32_t y = 0;
};

// Where pixel (x, y) of the turned picture lies in the stored picture of
// width x height.
PixelAt storedPixel(Orientation orientation, int32_t width, int32_t height, int32_t x, int32_t y);

// The picture as it looks turned: what a search with turned copies compares
// against, and what the review shows.
Picture turnedPicture(const Picture& picture, Orientation orientation);
