#include "picture/picture.h"

Picture::Picture(int32_t width, int32_t height)
    : m_width(width), m_height(height)
{
    // Left uninitialised: every byte is overwritten by the decoder.
    m_data = std::make_unique_for_overwrite<uint8_t[]>(byteCount());
}
