#pragma once

#include <cstdint>
#include <vector>

#include "picture/picture_stream.h"

// Hands one stream to several sinks; each sees only the rows it wants, and
// one that refuses the picture at begin() sees nothing more of it.
class RowFanOut : public RowSink {
public:
    void clear()
    {
        m_sinks.clear();
        m_begun = false;
    }
    void add(RowSink& sink)
    {
        m_sinks.push_back(&sink);
        m_begun = false;
    }

    bool begin(int32_t width, int32_t height) override;
    bool wantsRow(int32_t y) const override;
    void row(int32_t y, const uint8_t* bgr) override;
    bool needsWholeFile() const override;

    // The size of the picture begun last.
    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }

private:
    std::vector<RowSink*> m_sinks;
    std::vector<RowSink*> m_taking; // those that took the present picture
    int32_t m_width = 0;
    int32_t m_height = 0;
    bool m_begun = false; // m_taking is of the sinks added
};
