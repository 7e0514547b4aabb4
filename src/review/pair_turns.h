#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "picture/orientation.h"

class PairOrientations;
struct PairRec;

// Turning twice is one turn: the orientation of `then` applied to the
// picture turned by `first`.
Orientation followedBy(Orientation first, Orientation then);
// The turn that undoes `orientation`.
Orientation inverseOf(Orientation orientation);

// How the review names a turn it shows, e.g. "右へ90°回転".
std::string turnText(Orientation orientation);

// Which way the review shows each member of a group found by a search for
// turned copies, so that it lies as the picture beside it does. A pair the
// search matched in orientation o (B turned by o looks like A) is shown that
// way; two members that are no pair are related through the pairs that
// joined them into one group.
class GroupTurns {
public:
    GroupTurns() = default;
    // Nothing to turn without orientations or when every pair matched upright.
    GroupTurns(const std::vector<PairRec>& pairs, const PairOrientations* orientations,
               const std::vector<int32_t>& group);

    bool empty() const { return m_toFirst.empty(); }
    // How file `shown` is turned to look like file `beside` (FileTable
    // indices); upright when nothing relates them.
    Orientation turnOf(int32_t shown, int32_t beside) const;

private:
    static uint64_t key(int32_t a, int32_t b)
    {
        return (static_cast<uint64_t>(static_cast<uint32_t>(a)) << 32) | static_cast<uint32_t>(b);
    }

    std::unordered_map<uint64_t, Orientation> m_pairs; // (A, B) of each pair in the group
    std::unordered_map<int32_t, Orientation> m_toFirst; // turns each member to the group's first
};
