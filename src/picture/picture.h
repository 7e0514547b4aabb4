#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A decoded picture: rows top-down, three bytes a pixel in the order B, G, R,
// rows packed without padding. Move-only; the engines decode one picture at a
// time and a 24-megapixel photograph is 72 MB.
class Picture {
public:
    Picture() = default;
    Picture(int32_t width, int32_t height);

    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    bool isNull() const { return m_width <= 0 || m_height <= 0; }
    std::size_t stride() const { return static_cast<std::size_t>(m_width) * 3; }
    std::size_t byteCount() const { return stride() * static_cast<std::size_t>(m_height); }

    uint8_t* row(int32_t y) { return m_data.get() + stride() * static_cast<std::size_t>(y); }
    const uint8_t* row(int32_t y) const { return m_data.get() + stride() * static_cast<std::size_t>(y); }
    uint8_t* data() { return m_data.get(); }
    const uint8_t* data() const { return m_data.get(); }

private:
    int32_t m_width = 0;
    int32_t m_height = 0;
    std::unique_ptr<uint8_t[]> m_data;
};
