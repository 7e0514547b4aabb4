#include "search/pair_orientations.h"

void PairOrientations::set(int32_t indexA, int32_t indexB, Orientation orientation)
{
    if (orientation == Orientation::Upright)
        m_turned.erase(key(indexA, indexB));
    else
        m_turned[key(indexA, indexB)] = orientation;
}

Orientation PairOrientations::of(int32_t indexA, int32_t indexB) const
{
    const auto found = m_turned.find(key(indexA, indexB));
    return found == m_turned.end() ? Orientation::Upright : found->second;
}
