#include "cache/picture_examination.h"

#include "compare/similar/similar_reduction.h"

PictureRecord examinePicture(const std::string& path)
{
    return examineLoadedPicture(path, loadPicture(path, JpegIdct::Fast));
}

PictureRecord examineLoadedPicture(const std::string& path, const LoadedPicture& loaded)
{
    PictureRecord record;
    if (const std::optional<PictureSize> header = ReadPictureSize(path))
        record.header = *header;
    if (!loaded.ok()) {
        record.failure = loaded.failure == LoadFailure::None ? LoadFailure::Damaged : loaded.failure;
        record.error = loaded.error;
        return record;
    }
    record.identicalKnown = true;
    if (canComputeSignature(loaded.picture))
        record.identical = ComputeSignature(loaded.picture);
    record.similarKnown = true;
    if (canReduceSimilar(loaded.picture)) {
        record.similar.emplace();
        reduceSimilarPicture(loaded.picture, *record.similar);
    }
    return record;
}
