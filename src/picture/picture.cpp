#include "picture/picture.h"

Picture::Picture(int32_t width, int32_t height)
    : m_width(width), m_height(height)
{
    // Left uninitialised: every byte is overwritten by the decoder.
    m_data = std::make_unique_for_overwrite<uint8_t[]>(byteCount());
}

void Picture::setPixel(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b)
{
    uint8_t* p = row(y) + static_cast<std::size_t>(x) * 3;
    p[0] = b;
    p[1] = g;
    p[2] = r;
}
