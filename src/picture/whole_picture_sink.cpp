#include "picture/whole_picture_sink.h"

#include <cstring>

bool WholePictureSink::begin(int32_t width, int32_t height)
{
    if (int64_t{width} * height > kMaxPicturePixels) {
        m_tooLarge = true;
        m_width = width;
        m_height = height;
        return false;
    }
    m_picture = Picture(width, height);
    return true;
}

void WholePictureSink::row(int32_t y, const uint8_t* bgr)
{
    std::memcpy(m_picture.row(y), bgr, m_picture.stride());
}

LoadedPicture WholePictureSink::take(const StreamResult& streamed)
{
    LoadedPicture result;
    if (!streamed.ok()) {
        result.error = streamed.error.empty() ? "aborted" : streamed.error;
        result.failure = streamed.failure;
        result.systemError = streamed.systemError;
    } else if (m_tooLarge) {
        result.error = pictureLimitRefusal({m_width, m_height});
        result.failure = LoadFailure::TooLarge;
    } else {
        result.picture = std::move(m_picture);
    }
    return result;
}
