#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "picture/picture_stream.h"

namespace testing_support {

// A row sink that keeps every row it is given, for comparing a stream with a
// whole picture. wanted(y, height) chooses the rows.
class RecordingSink : public RowSink {
public:
    explicit RecordingSink(std::function<bool(int32_t, int32_t)> wanted = {}) : m_wanted(std::move(wanted)) {}

    bool begin(int32_t width, int32_t height) override
    {
        this->width = width;
        this->height = height;
        ++begins;
        return true;
    }
    bool wantsRow(int32_t y) const override { return !m_wanted || m_wanted(y, height); }
    void row(int32_t y, const uint8_t* bgr) override
    {
        ys.push_back(y);
        rows.emplace_back(reinterpret_cast<const char*>(bgr), static_cast<std::size_t>(width) * 3);
    }

    // The rows of picture that this sink wants, in order, as it would record
    // them.
    std::vector<std::string> expectedRows(const Picture& picture) const
    {
        std::vector<std::string> expected;
        for (int32_t y = 0; y < picture.height(); ++y) {
            if (!m_wanted || m_wanted(y, picture.height()))
                expected.emplace_back(reinterpret_cast<const char*>(picture.row(y)), picture.stride());
        }
        return expected;
    }

    int32_t width = 0;
    int32_t height = 0;
    int begins = 0;
    std::vector<int32_t> ys;
    std::vector<std::string> rows;

private:
    std::function<bool(int32_t, int32_t)> m_wanted;
};

// Streams path into sinks that want every row, every 7th row and a sparse
// few (the first, the last, the middle, and pairs around multiples of 8, 16
// and 32 rows), and expects exactly whole's rows; then expects load(path) to
// give whole, byte for byte.
inline void expectStreamedAndLoaded(const std::string& path, const Picture& whole,
                                    const std::function<LoadedPicture(const std::string&)>& load)
{
    const std::pair<const char*, std::function<bool(int32_t, int32_t)>> kinds[] = {
        {"every", {}},
        {"seventh", [](int32_t y, int32_t) { return y % 7 == 3; }},
        {"sparse", [](int32_t y, int32_t h) {
             return y == 0 || y == h - 1 || y == h / 2 || y % 97 == 31 || y % 97 == 32 || y % 211 == 15
                    || y % 211 == 16 || y % 389 == 63 || y % 389 == 64;
         }},
    };
    PictureStreamer streamer;
    for (const auto& [kind, wanted] : kinds) {
        SCOPED_TRACE(kind);
        RecordingSink sink(wanted);
        const StreamResult result = streamer.stream(path, sink, StreamOptions {});
        ASSERT_TRUE(result.ok()) << result.error;
        ASSERT_EQ(sink.width, whole.width());
        ASSERT_EQ(sink.height, whole.height());
        const std::vector<std::string> expected = sink.expectedRows(whole);
        ASSERT_EQ(sink.rows.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(sink.rows[i], expected[i]) << "row " << sink.ys[i];
    }
    const LoadedPicture loaded = load(path);
    ASSERT_TRUE(loaded.ok()) << loaded.error;
    ASSERT_EQ(loaded.picture.byteCount(), whole.byteCount());
    EXPECT_EQ(std::memcmp(loaded.picture.data(), whole.data(), whole.byteCount()), 0);
}

} // namespace testing_support
