#pragma once

#include <cstdint>
#include <unordered_map>

#include "picture/orientation.h"

// In a search for turned copies: the orientation in which each result pair
// matched, A's picture against B's turned that way. Only pairs that matched
// other than upright are kept, so a plain search keeps none.
class PairOrientations {
public:
    void set(int32_t indexA, int32_t indexB, Orientation orientation);
    // Upright for a pair never set.
    Orientation of(int32_t indexA, int32_t indexB) const;
    bool empty() const { return m_turned.empty(); }
    std::size_t size() const { return m_turned.size(); }

private:
    static uint64_t key(int32_t indexA, int32_t indexB)
    {
        return (static_cast<uint64_t>(static_cast<uint32_t>(indexA)) << 32) | static_cast<uint32_t>(indexB);
    }

    std::unordered_map<uint64_t, Orientation> m_turned;
};
