#include "picture/picture_stream.h"

#include "picture/bmp_loader.h"
#include "picture/jpeg_decoder.h"
#include "picture/picture_file.h"
#include "picture/picture_format.h"

struct PictureStreamer::Buffers {
    JpegBuffers jpeg;
    BmpBuffers bmp;
};

PictureStreamer::PictureStreamer() : m_buffers(std::make_unique<Buffers>()) {}

PictureStreamer::~PictureStreamer() = default;

StreamResult PictureStreamer::stream(const std::string& path, RowSink& sink, const StreamOptions& options)
{
    if (options.abortFlag != nullptr && options.abortFlag->load(std::memory_order_relaxed))
        return {StreamStatus::Aborted, {}};
    PictureFile file;
    if (!file.open(path))
        return file.failed();
    if (decoderFormatOf(path) == PictureFormat::Jpeg)
        return streamJpegFile(file, sink, options, m_buffers->jpeg);
    // A kept JPEG decode is not held while a bitmap takes its own memory.
    m_buffers->jpeg.kept.reset();
    return streamBmpFile(file, sink, options, m_buffers->bmp);
}
