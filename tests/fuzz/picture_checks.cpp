#include "fuzz/picture_checks.h"

#include <cstring>
#include <memory>
#include <optional>

#include "compare/identical/identical_signature.h"
#include "compare/similar/similar_reduction.h"
#include "fuzz/fuzz_input.h"
#include "picture/picture_loader.h"
#include "picture/picture_size.h"
#include "picture/picture_stream.h"

namespace {

// Compares the streamed rows with the loaded picture; wants two rows of three
// so that skipping rows is exercised too.
class RowComparison : public RowSink {
public:
    explicit RowComparison(const Picture& expected) : m_expected(expected) {}

    bool begin(int32_t width, int32_t height) override
    {
        // A file whose damage lies after its header begins streaming before
        // it fails, as the whole load fails; only the outcomes are compared.
        if (m_expected.isNull()) {
            m_began = true;
            return true;
        }
        if (width != m_expected.width() || height != m_expected.height())
            fuzz_input::fail("streamed size " + std::to_string(width) + " x " + std::to_string(height)
                             + " differs from the loaded " + std::to_string(m_expected.width()) + " x "
                             + std::to_string(m_expected.height()));
        m_began = true;
        return true;
    }

    bool wantsRow(int32_t y) const override { return y % 3 != 1; }

    void row(int32_t y, const uint8_t* bgr) override
    {
        if (m_expected.isNull())
            return;
        if (!m_began || y <= m_last || y >= m_expected.height() || !wantsRow(y))
            fuzz_input::fail("row " + std::to_string(y) + " delivered out of order or unasked");
        if (std::memcmp(bgr, m_expected.row(y), m_expected.stride()) != 0)
            fuzz_input::fail("streamed row " + std::to_string(y) + " differs from the loaded picture");
        m_last = y;
        ++m_rows;
    }

    int32_t rows() const { return m_rows; }

private:
    const Picture& m_expected;
    bool m_began = false;
    int32_t m_last = -1;
    int32_t m_rows = 0;
};

int32_t wantedRows(int32_t height) { return height - (height + 1) / 3; }

void checkIdentical(const Picture& picture)
{
    if (!canComputeSignature(picture))
        return;
    static auto reused = std::make_unique<SignatureGrids>();
    const IdenticalSignature fresh = ComputeSignature(picture);
    const IdenticalSignature again = ComputeSignature(picture, *reused);
    if (fresh.centroids != again.centroids || fresh.profiles != again.profiles)
        fuzz_input::fail("identical signature depends on the working grids");
}

void checkSimilar(const Picture& picture)
{
    if (!canReduceSimilar(picture))
        return;
    static auto reused = std::make_unique<SampledPicture>();
    auto fresh = std::make_unique<SimilarSignature>();
    auto again = std::make_unique<SimilarSignature>();
    reduceSimilarPicture(picture, *fresh);
    reduceSimilarPicture(picture, *again, *reused);
    if (fresh->contrastMap != again->contrastMap || fresh->profiles != again->profiles
        || fresh->centroidX != again->centroidX || fresh->centroidY != again->centroidY
        || fresh->planeTotals != again->planeTotals || fresh->bandCodes != again->bandCodes
        || fresh->spreadA != again->spreadA || fresh->spreadB != again->spreadB)
        fuzz_input::fail("similar signature depends on the working grids");
}

} // namespace

void checkPictureFile(const std::string& path)
{
    const LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
    if (loaded.ok() && loaded.picture.isNull())
        fuzz_input::fail("a load that succeeded gave no picture");

    static PictureStreamer streamer;
    RowComparison rows(loaded.picture);
    const StreamResult streamed = streamer.stream(path, rows, StreamOptions {});
    if (streamed.ok() != loaded.ok())
        fuzz_input::fail("streaming " + std::string(streamed.ok() ? "succeeded" : "failed (" + streamed.error + ")")
                         + " where loading " + (loaded.ok() ? "succeeded" : "failed (" + loaded.error + ")"));
    if (!loaded.ok())
        return;
    if (rows.rows() != wantedRows(loaded.picture.height()))
        fuzz_input::fail("streaming left out wanted rows");

    checkIdentical(loaded.picture);
    checkSimilar(loaded.picture);
}

void checkPictureFileAndHeaderSize(const std::string& path)
{
    checkPictureFile(path);
    const std::optional<PictureSize> header = ReadPictureSize(path);
    if (!header)
        fuzz_input::fail("a written file could not be opened for its size");
    const LoadedPicture loaded = loadPicture(path, JpegIdct::Fast);
    if (loaded.ok() && (header->width != loaded.picture.width() || header->height != loaded.picture.height()))
        fuzz_input::fail("header size " + std::to_string(header->width) + " x " + std::to_string(header->height)
                         + " differs from the decoded " + std::to_string(loaded.picture.width()) + " x "
                         + std::to_string(loaded.picture.height()));
}
