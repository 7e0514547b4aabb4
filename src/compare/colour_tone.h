#pragma once

#include <cstdint>

// The tone (brightness) of a colour, as both engines define it.
inline int32_t toneOf(int32_t r, int32_t g, int32_t b)
{
    return (30 * r + 59 * g + 11 * b) / 100;
}
