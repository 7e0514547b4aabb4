#include "picture/orientation.h"

#include <array>
#include <cstring>

namespace {

constexpr std::array<std::string_view, kOrientationCount> kNames {
    "upright", "turn90", "turn180", "turn270", "mirror", "mirror-turn90", "mirror-turn180", "mirror-turn270",
};

} // namespace

bool swapsSides(Orientation orientation)
{
    switch (orientation) {
    case Orientation::Turned90:
    case Orientation::Turned270:
    case Orientation::MirroredTurned90:
    case Orientation::MirroredTurned270:
        return true;
    default:
        return false;
    }
}

std::string_view orientationName(Orientation orientation)
{
    return kNames[static_cast<std::size_t>(orientation)];
}

std::optional<Orientation> orientationNamed(std::string_view name)
{
    for (int32_t i = 0; i < kOrientationCount; ++i) {
        if (kNames[static_cast<std::size_t>(i)] == name)
            return orientationAt(i);
    }
    return std::nullopt;
}

PixelAt storedPixel(Orientation orientation, int32_t width, int32_t height, int32_t x, int32_t y)
{
    // Turning clockwise brings the stored picture's bottom-left corner to the
    // top left; the mirrored ones swap left and right before turning.
    switch (orientation) {
    case Orientation::Upright:
        return {x, y};
    case Orientation::Turned90:
        return {y, height - 1 - x};
    case Orientation::Turned180:
        return {width - 1 - x, height - 1 - y};
    case Orientation::Turned270:
        return {width - 1 - y, x};
    case Orientation::Mirrored:
        return {width - 1 - x, y};
    case Orientation::MirroredTurned90:
        return {width - 1 - y, height - 1 - x};
    case Orientation::MirroredTurned180:
        return {x, height - 1 - y};
    case Orientation::MirroredTurned270:
        return {y, x};
    }
    return {x, y};
}

Picture turnedPicture(const Picture& picture, Orientation orientation)
{
    const int32_t width = picture.width();
    const int32_t height = picture.height();
    const bool swapped = swapsSides(orientation);
    Picture turned(swapped ? height : width, swapped ? width : height);
    for (int32_t y = 0; y < turned.height(); ++y) {
        uint8_t* out = turned.row(y);
        for (int32_t x = 0; x < turned.width(); ++x) {
            const PixelAt at = storedPixel(orientation, width, height, x, y);
            std::memcpy(out + 3 * x, picture.row(at.y) + 3 * at.x, 3);
        }
    }
    return turned;
}
