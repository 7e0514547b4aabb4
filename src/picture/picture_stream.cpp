#include "picture/picture_stream.h"

// First version: decodes the whole picture, then hands the wanted rows on.
// The streaming decoders replace this body without changing the interface.
struct PictureStreamer::Buffers {};

PictureStreamer::PictureStreamer() : m_buffers(std::make_unique<Buffers>()) {}

PictureStreamer::~PictureStreamer() = default;

StreamResult PictureStreamer::stream(const std::string& path, RowSink& sink, const StreamOptions& options)
{
    if (options.abortFlag != nullptr && options.abortFlag->load(std::memory_order_relaxed))
        return {StreamStatus::Aborted, {}};
    LoadedPicture loaded = loadPicture(path, options.idct);
    if (!loaded.ok())
        return {StreamStatus::Failed, loaded.error, loaded.failure, loaded.systemError};
    const Picture& picture = loaded.picture;
    if (!sink.begin(picture.width(), picture.height()))
        return {};
    for (int32_t y = 0; y < picture.height(); ++y) {
        if (sink.wantsRow(y))
            sink.row(y, picture.row(y));
    }
    return {};
}
