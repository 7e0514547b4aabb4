#include "review/pair_turns.h"

#include <array>
#include <deque>
#include <unordered_set>

#include "search/pair_list.h"
#include "search/pair_orientations.h"

namespace {

// The smallest picture on which every two orientations differ.
constexpr int32_t kProbeWidth = 2;
constexpr int32_t kProbeHeight = 3;

Orientation composed(Orientation first, Orientation then)
{
    const int32_t firstWidth = swapsSides(first) ? kProbeHeight : kProbeWidth;
    const int32_t firstHeight = swapsSides(first) ? kProbeWidth : kProbeHeight;
    const bool swapped = swapsSides(first) != swapsSides(then);
    const int32_t width = swapped ? kProbeHeight : kProbeWidth;
    const int32_t height = swapped ? kProbeWidth : kProbeHeight;
    for (int32_t i = 0; i < kOrientationCount; ++i) {
        const Orientation candidate = orientationAt(i);
        if (swapsSides(candidate) != swapped)
            continue;
        bool same = true;
        for (int32_t y = 0; y < height && same; ++y) {
            for (int32_t x = 0; x < width && same; ++x) {
                const PixelAt mid = storedPixel(then, firstWidth, firstHeight, x, y);
                const PixelAt twice = storedPixel(first, kProbeWidth, kProbeHeight, mid.x, mid.y);
                const PixelAt once = storedPixel(candidate, kProbeWidth, kProbeHeight, x, y);
                same = twice.x == once.x && twice.y == once.y;
            }
        }
        if (same)
            return candidate;
    }
    return Orientation::Upright; // not reached: the eight form a group
}

using Table = std::array<std::array<Orientation, kOrientationCount>, kOrientationCount>;

const Table& compositions()
{
    static const Table table = [] {
        Table t {};
        for (int32_t a = 0; a < kOrientationCount; ++a) {
            for (int32_t b = 0; b < kOrientationCount; ++b)
                t[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)] = composed(orientationAt(a), orientationAt(b));
        }
        return t;
    }();
    return table;
}

} // namespace

Orientation followedBy(Orientation first, Orientation then)
{
    return compositions()[static_cast<std::size_t>(first)][static_cast<std::size_t>(then)];
}

Orientation inverseOf(Orientation orientation)
{
    for (int32_t i = 0; i < kOrientationCount; ++i) {
        if (followedBy(orientation, orientationAt(i)) == Orientation::Upright)
            return orientationAt(i);
    }
    return Orientation::Upright;
}

std::string turnText(Orientation orientation)
{
    switch (orientation) {
    case Orientation::Upright:
        return "そのまま";
    case Orientation::Turned90:
        return "右へ90°回転";
    case Orientation::Turned180:
        return "180°回転";
    case Orientation::Turned270:
        return "左へ90°回転";
    case Orientation::Mirrored:
        return "左右反転";
    case Orientation::MirroredTurned90:
        return "左右反転して右へ90°回転";
    case Orientation::MirroredTurned180:
        return "上下反転";
    case Orientation::MirroredTurned270:
        return "左右反転して左へ90°回転";
    }
    return {};
}

GroupTurns::GroupTurns(const std::vector<PairRec>& pairs, const PairOrientations* orientations,
                       const std::vector<int32_t>& group)
{
    if (orientations == nullptr || orientations->empty() || group.empty())
        return;
    const std::unordered_set<int32_t> members(group.begin(), group.end());
    std::unordered_map<int32_t, std::vector<std::pair<int32_t, Orientation>>> links;
    bool anyTurned = false;
    for (const PairRec& pair : pairs) {
        if (!members.count(pair.indexA) || !members.count(pair.indexB))
            continue;
        const Orientation o = orientations->of(pair.indexA, pair.indexB);
        anyTurned = anyTurned || o != Orientation::Upright;
        m_pairs.emplace(key(pair.indexA, pair.indexB), o);
        // B turned by o looks like A; A turned back looks like B.
        links[pair.indexB].emplace_back(pair.indexA, o);
        links[pair.indexA].emplace_back(pair.indexB, inverseOf(o));
    }
    if (!anyTurned) {
        m_pairs.clear();
        return;
    }
    // From the first member outwards, the first path found.
    m_toFirst.emplace(group.front(), Orientation::Upright);
    std::deque<int32_t> waiting {group.front()};
    while (!waiting.empty()) {
        const int32_t from = waiting.front();
        waiting.pop_front();
        for (const auto& [to, turn] : links[from]) {
            // `to` turned by `back` looks like `from`, which its own turn
            // brings to the first member.
            const Orientation back = inverseOf(turn);
            if (m_toFirst.emplace(to, followedBy(back, m_toFirst.at(from))).second)
                waiting.push_back(to);
        }
    }
}

Orientation GroupTurns::turnOf(int32_t shown, int32_t beside) const
{
    if (m_toFirst.empty() || shown == beside)
        return Orientation::Upright;
    if (const auto pair = m_pairs.find(key(beside, shown)); pair != m_pairs.end())
        return pair->second;
    if (const auto pair = m_pairs.find(key(shown, beside)); pair != m_pairs.end())
        return inverseOf(pair->second);
    const auto shownTurn = m_toFirst.find(shown);
    const auto besideTurn = m_toFirst.find(beside);
    if (shownTurn == m_toFirst.end() || besideTurn == m_toFirst.end())
        return Orientation::Upright;
    return followedBy(shownTurn->second, inverseOf(besideTurn->second));
}
