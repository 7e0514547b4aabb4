#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "picture/picture_loader.h"

// Receives one picture's rows top-down, three bytes a pixel in the order B, G,
// R, as the decoder produces them. A reduction keeps only what it samples, so
// no whole picture needs to be held.
class RowSink {
public:
    virtual ~RowSink() = default;

    // The picture's size, before any row. Returning false ends the stream
    // there, successfully, with no rows delivered (the sink has seen enough,
    // for instance a picture too small to sample).
    virtual bool begin(int32_t width, int32_t height) = 0;

    // Whether row y is needed. Rows that are not wanted may be skipped by the
    // decoder and never delivered; wanted rows arrive in ascending order.
    virtual bool wantsRow(int32_t y) const = 0;

    // Row y: width * 3 bytes, valid only during the call.
    virtual void row(int32_t y, const uint8_t* bgr) = 0;

    // Whether the file must still be read past the last wanted row, so that
    // damage there fails it as a whole decode would. A sink that looks again
    // at a file that has just been read to the end may spare that.
    virtual bool needsWholeFile() const { return true; }
};

struct StreamOptions {
    JpegIdct idct = JpegIdct::Fast;
    // Polled during long decodes as well as between pictures; may be null.
    const std::atomic<bool>* abortFlag = nullptr;
};

enum class StreamStatus { Ok, Failed, Aborted };

struct StreamResult {
    StreamStatus status = StreamStatus::Ok;
    std::string error; // why the file could not be read, when Failed
    LoadFailure failure = LoadFailure::None;
    int systemError = 0;
    bool ok() const { return status == StreamStatus::Ok; }
};

// Streams picture files into sinks. One per worker thread: it keeps its
// buffers from one picture to the next, so a search does not allocate per
// picture. The format follows the extension as in loadPicture. Rows are
// read as they are wanted: a baseline JPEG or an uncompressed bitmap of any
// size streams through in a strip of rows, a run-length bitmap holds the
// indices of the wanted rows alone; what the format forces to be held (a
// progressive JPEG's coefficients, a bitmap the platform reader decodes
// whole) counts against kPictureMemoryBudget, and so does a run-length
// bitmap, which a whole-picture load holds whole. A file beyond any limit of picture_limits.h
// fails with LoadFailure::TooLarge before anything big is allocated. The last
// progressive JPEG's decode is kept until the next stream, so that a second
// look at the same file reads no scan again (see JpegBuffers). The rows are
// those of the whole-picture loaders, byte for byte.
class PictureStreamer {
public:
    PictureStreamer();
    ~PictureStreamer();
    PictureStreamer(const PictureStreamer&) = delete;
    PictureStreamer& operator=(const PictureStreamer&) = delete;

    StreamResult stream(const std::string& path, RowSink& sink, const StreamOptions& options);

private:
    struct Buffers;
    std::unique_ptr<Buffers> m_buffers;
};
