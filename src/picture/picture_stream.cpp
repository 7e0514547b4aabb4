#include "picture/picture_stream.h"

#include "picture/bmp_loader.h"
#include "picture/gif_decoder.h"
#include "picture/heif_decoder.h"
#include "picture/jpeg_decoder.h"
#include "picture/jxl_decoder.h"
#include "picture/picture_file.h"
#include "picture/picture_format.h"
#include "picture/png_decoder.h"
#include "picture/tiff_decoder.h"
#include "picture/webp_decoder.h"

struct PictureStreamer::Buffers {
    JpegBuffers jpeg;
    BmpBuffers bmp;
    PngBuffers png;
    WebpBuffers webp;
    GifBuffers gif;
    TiffBuffers tiff;
    HeifBuffers heif;
    JxlBuffers jxl;
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
    const PictureFormat format = decoderFormatOf(path);
    if (format == PictureFormat::Jpeg)
        return streamJpegFile(file, sink, options, m_buffers->jpeg);
    // A kept JPEG decode is not held while another picture takes its own memory.
    m_buffers->jpeg.kept.reset();
    switch (format) {
    case PictureFormat::Png:
        return streamPngFile(file, sink, options, m_buffers->png);
    case PictureFormat::Webp:
        return streamWebpFile(file, sink, options, m_buffers->webp);
    case PictureFormat::Gif:
        return streamGifFile(file, sink, options, m_buffers->gif);
    case PictureFormat::Tiff:
        return streamTiffFile(file, sink, options, m_buffers->tiff);
    case PictureFormat::Heic:
    case PictureFormat::Avif:
        return streamHeifFile(file, sink, options, m_buffers->heif);
    case PictureFormat::Jxl:
        return streamJxlFile(file, sink, options, m_buffers->jxl);
    default:
        return streamBmpFile(file, sink, options, m_buffers->bmp);
    }
}
