#include "compare/sampled_rows.h"

#include <algorithm>

void SampledRows::clear()
{
    m_uses.clear();
    m_rows.clear();
    m_next = 0;
}

void SampledRows::add(int32_t row, int32_t cell)
{
    m_uses.push_back(Use {row, cell});
}

void SampledRows::seal()
{
    // Stable, so that the uses of one row keep the order of their grid rows.
    std::stable_sort(m_uses.begin(), m_uses.end(), [](const Use& a, const Use& b) { return a.row < b.row; });
    for (const Use& use : m_uses) {
        if (m_rows.empty() || m_rows.back() != use.row)
            m_rows.push_back(use.row);
    }
}

bool SampledRows::wants(int32_t row) const
{
    return std::binary_search(m_rows.begin(), m_rows.end(), row);
}

std::span<const SampledRows::Use> SampledRows::usesOf(int32_t row)
{
    while (m_next < m_uses.size() && m_uses[m_next].row < row)
        ++m_next;
    const std::size_t first = m_next;
    while (m_next < m_uses.size() && m_uses[m_next].row == row)
        ++m_next;
    return std::span<const Use>(m_uses).subspan(first, m_next - first);
}
