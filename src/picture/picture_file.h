#pragma once

#include <cstdint>
#include <string>

#include "picture/picture_loader.h"
#include "picture/picture_stream.h"

// A picture file opened for reading, refused unless it is a regular file. The
// open does not wait (a FIFO or a device would block a search), and nothing
// is read yet.
class PictureFile {
public:
    PictureFile() = default;
    ~PictureFile();
    PictureFile(const PictureFile&) = delete;
    PictureFile& operator=(const PictureFile&) = delete;

    // Opens path; false with failure(), systemError() and error() set when
    // it cannot be read as a picture file. An empty file is refused too.
    bool open(const std::string& path);

    int fd() const { return m_fd; }
    const std::string& path() const { return m_path; }
    int64_t size() const { return m_size; }

    // Reads up to count bytes from the current position, retrying
    // interrupted reads; returns how many were read, -1 on error (errno).
    int64_t read(uint8_t* out, std::size_t count);

    // Whether the file starts with the given signature (at most 8 bytes); the
    // read position does not move. A failure sets Damaged, or SystemError on
    // a read error.
    bool startsWith(const uint8_t* signature, std::size_t length);

    LoadFailure failure() const { return m_failure; }
    int systemError() const { return m_systemError; }
    const std::string& error() const { return m_error; }

    // The failure as a stream's result.
    StreamResult failed() const { return {StreamStatus::Failed, m_error, m_failure, m_systemError}; }

    // Records a failure found by a reader of this file.
    void fail(LoadFailure failure, const std::string& error, int systemError = 0);

private:
    int m_fd = -1;
    std::string m_path;
    int64_t m_size = 0;
    LoadFailure m_failure = LoadFailure::None;
    int m_systemError = 0;
    std::string m_error;
};

// The failure a system error number stands for when opening a file.
LoadFailure failureOfErrno(int error);
