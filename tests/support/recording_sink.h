#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "picture/picture.h"
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

} // namespace testing_support
