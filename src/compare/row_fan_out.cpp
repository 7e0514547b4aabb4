#include "compare/row_fan_out.h"

bool RowFanOut::begin(int32_t width, int32_t height)
{
    m_width = width;
    m_height = height;
    m_taking.clear();
    for (RowSink* sink : m_sinks) {
        if (sink->begin(width, height))
            m_taking.push_back(sink);
    }
    m_begun = true;
    return !m_taking.empty();
}

bool RowFanOut::wantsRow(int32_t y) const
{
    for (const RowSink* sink : m_taking) {
        if (sink->wantsRow(y))
            return true;
    }
    return false;
}

void RowFanOut::row(int32_t y, const uint8_t* bgr)
{
    for (RowSink* sink : m_taking) {
        if (sink->wantsRow(y))
            sink->row(y, bgr);
    }
}

bool RowFanOut::needsWholeFile() const
{
    // A decoder may ask before the picture begins: then every sink counts.
    for (const RowSink* sink : m_begun ? m_taking : m_sinks) {
        if (sink->needsWholeFile())
            return true;
    }
    return false;
}
