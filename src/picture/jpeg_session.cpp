#include "picture/jpeg_session.h"

#include <cstring>

#include <jerror.h>

#include "picture/jpeg_decoder.h"

namespace {

extern "C" void onJpegError(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    if (err->stop == JpegStop::None)
        err->stop = JpegStop::Error;
    std::longjmp(err->jump, 1);
}

extern "C" void onJpegMessage(j_common_ptr cinfo, int level)
{
    logJpegMessage(cinfo, level, reinterpret_cast<JpegErrorManager*>(cinfo->err)->fileName);
}

extern "C" void onJpegProgress(j_common_ptr cinfo)
{
    auto* progress = reinterpret_cast<JpegProgressMonitor*>(cinfo->progress);
    if (progress->abortFlag != nullptr && progress->abortFlag->load(std::memory_order_relaxed))
        stopJpeg(progress->err, JpegStop::Aborted, "");
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxJpegScans)
        stopJpeg(progress->err, JpegStop::TooManyScans, "");
}

} // namespace

JpegSession::JpegSession(const char* fileName, const std::atomic<bool>* abortFlag)
{
    std::memset(&cinfo, 0, sizeof cinfo);
    std::memset(&err, 0, sizeof err);
    std::memset(&progress, 0, sizeof progress);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onJpegError;
    err.pub.emit_message = onJpegMessage;
    err.fileName = fileName;
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = static_cast<long>(kPictureMemoryBudget);
    progress.pub.progress_monitor = onJpegProgress;
    progress.err = &err;
    progress.abortFlag = abortFlag;
    cinfo.progress = &progress.pub;
}

JpegSession::~JpegSession()
{
    jpeg_destroy_decompress(&cinfo);
}

void stopJpeg(JpegErrorManager* err, JpegStop stop, const char* message)
{
    err->stop = stop;
    std::snprintf(err->message, sizeof err->message, "%s", message);
    std::longjmp(err->jump, 1);
}

JpegFailure jpegFailureOf(const JpegErrorManager& err)
{
    JpegFailure out;
    out.error = err.message;
    switch (err.stop) {
    case JpegStop::ReadError:
        out.failure = LoadFailure::SystemError;
        out.systemError = err.systemError;
        break;
    case JpegStop::TooManyScans:
        out.error = tooManyScansMessage();
        break;
    default:
        // libjpeg's own memory manager refuses what exceeds max_memory_to_use.
        if (err.pub.msg_code == JERR_OUT_OF_MEMORY || err.pub.msg_code == JERR_NO_BACKING_STORE) {
            out.error = "picture too large (" + out.error + ")";
            out.failure = LoadFailure::TooLarge;
        }
        break;
    }
    return out;
}
