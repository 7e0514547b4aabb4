#pragma once

#include <atomic>
#include <csetjmp>
#include <cstdio> // before jpeglib.h, which uses FILE
#include <string>

#include <jpeglib.h>

#include "picture/picture_loader.h"

// Why libjpeg was stopped.
enum class JpegStop { None, Error, Aborted, TooManyScans, ReadError };

// libjpeg's error manager for every decoder: an error longjmps to `jump`,
// which the phase of the decode that called libjpeg has set.
struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    JpegStop stop;
    int systemError;
    const char* fileName; // for log lines; null for bytes in memory
};

struct JpegProgressMonitor {
    jpeg_progress_mgr pub;
    JpegErrorManager* err;
    const std::atomic<bool>* abortFlag;
};

// One libjpeg decompressor with the limits every decoder keeps: its memory
// manager refuses more than kPictureMemoryBudget, the progress monitor stops
// a file of more than kMaxJpegScans scans and polls `abortFlag` (may be
// null) while libjpeg reads. libjpeg holds pointers into the session, so it
// never moves.
struct JpegSession {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    JpegProgressMonitor progress;

    JpegSession(const char* fileName, const std::atomic<bool>* abortFlag);
    ~JpegSession();
    JpegSession(const JpegSession&) = delete;
    JpegSession& operator=(const JpegSession&) = delete;
};

// Stops the decode from outside libjpeg's own checks (a read error, an
// abort): longjmps to err->jump.
[[noreturn]] void stopJpeg(JpegErrorManager* err, JpegStop stop, const char* message);

// What a stopped decode failed with, in the words every reader uses: too
// many scans, what the memory manager refused ("picture too large"), a read
// error, or damage. Not for Aborted, which is no failure.
struct JpegFailure {
    LoadFailure failure = LoadFailure::Damaged;
    std::string error;
    int systemError = 0;
};
JpegFailure jpegFailureOf(const JpegErrorManager& err);
