#include "review/group_walk.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <stdexcept>

#include "search/file_table.h"
#include "search/pair_list.h"

namespace {

// Positions of every file's pairs in the PairList, ascending. A gathering
// level that scans the whole list for its file meets exactly these positions
// in this order, so visiting only them keeps the order and makes a group cost
// the pairs of its members rather than the length of the list per member.
class PairPositions {
public:
    // A stretch [first, end) of the entries of one file.
    struct Entries {
        int32_t first = 0;
        int32_t end = 0;
    };

    explicit PairPositions(const std::vector<PairRec>& pairs)
    {
        m_files.reserve(pairs.size() * 2);
        for (const PairRec& pair : pairs) {
            m_files.push_back(pair.indexA);
            m_files.push_back(pair.indexB);
        }
        std::sort(m_files.begin(), m_files.end());
        m_files.erase(std::unique(m_files.begin(), m_files.end()), m_files.end());

        m_offsets.assign(m_files.size() + 1, 0);
        std::vector<int32_t> slotA(pairs.size());
        std::vector<int32_t> slotB(pairs.size());
        for (std::size_t j = 0; j < pairs.size(); ++j) {
            slotA[j] = slotOf(pairs[j].indexA);
            slotB[j] = slotOf(pairs[j].indexB);
            ++m_offsets[slotA[j] + 1];
            if (slotB[j] != slotA[j]) // a pair of a file with itself is met once
                ++m_offsets[slotB[j] + 1];
        }
        for (std::size_t s = 1; s < m_offsets.size(); ++s)
            m_offsets[s] += m_offsets[s - 1];

        m_positions.resize(m_offsets.back());
        m_entriesOf.assign(pairs.size(), {-1, -1});
        std::vector<int32_t> fill(m_offsets.begin(), m_offsets.end() - 1);
        for (std::size_t j = 0; j < pairs.size(); ++j) {
            m_entriesOf[j][0] = fill[slotA[j]];
            m_positions[fill[slotA[j]]++] = static_cast<int32_t>(j);
            if (slotB[j] != slotA[j]) {
                m_entriesOf[j][1] = fill[slotB[j]];
                m_positions[fill[slotB[j]]++] = static_cast<int32_t>(j);
            }
        }
        // One more entry: the end of the last file's run, where skips stop.
        m_next.resize(m_positions.size() + 1);
        std::iota(m_next.begin(), m_next.end(), 0);
    }

    // The entries [first, end) of `file`'s pairs at PairList positions from `from` on.
    Entries entriesFrom(int32_t file, int32_t from) const
    {
        const auto found = std::lower_bound(m_files.begin(), m_files.end(), file);
        if (found == m_files.end() || *found != file)
            return {};
        const auto slot = found - m_files.begin();
        const int32_t* begin = m_positions.data() + m_offsets[slot];
        const int32_t* end = m_positions.data() + m_offsets[slot + 1];
        return Entries {static_cast<int32_t>(std::lower_bound(begin, end, from) - m_positions.data()), m_offsets[slot + 1]};
    }

    int32_t positionAt(int32_t entry) const { return m_positions[entry]; }

    // The first entry from `entry` on whose pair may still wait. A pair that
    // no longer waits never waits again in the same walk (taken, or put out
    // of play by the review), so its entries are passed over for good: a
    // full group that keeps gathering scans the same files' pairs again and
    // again, and without this it would read every taken pair each time.
    int32_t firstOpen(int32_t entry)
    {
        int32_t root = entry;
        while (m_next[root] != root)
            root = m_next[root];
        while (m_next[entry] != root) { // path compression
            const int32_t next = m_next[entry];
            m_next[entry] = root;
            entry = next;
        }
        return root;
    }

    // Pair j waits no more: both its entries are passed over from now on.
    void close(int32_t j)
    {
        for (int32_t entry : m_entriesOf[j]) {
            if (entry >= 0)
                m_next[entry] = entry + 1;
        }
    }

private:
    int32_t slotOf(int32_t file) const
    {
        return static_cast<int32_t>(std::lower_bound(m_files.begin(), m_files.end(), file) - m_files.begin());
    }

    std::vector<int32_t> m_files;     // every file named by a pair, ascending
    std::vector<int32_t> m_offsets;   // m_positions[m_offsets[s] .. m_offsets[s+1]) belong to m_files[s]
    std::vector<int32_t> m_positions;
    std::vector<std::array<int32_t, 2>> m_entriesOf; // per pair: its entries (-1: none)
    std::vector<int32_t> m_next; // per entry: itself while its pair may wait, else a later entry
};

// One GatherGroup level, suspended while the level it started runs.
struct GatherLevel {
    int32_t pos = 0;                 // the GroupCand position it scans for
    int32_t file = 0;                // the file at that position when it last moved on
    PairPositions::Entries rest;     // that file's entries not yet visited
    int32_t resumeAt = 0;            // the first PairList position not yet visited
};

// GroupCand, GroupMark and the running count n of the walk; position 0 unused.
struct GroupArrays {
    std::array<int32_t, kMaxGroup + 1> cand {};
    std::array<int32_t, kMaxGroup + 1> mark {};
    int32_t n = 0;

    bool holds(int32_t file) const
    {
        const auto first = cand.begin() + 1;
        return std::find(first, first + n, file) != first + n;
    }
};

class GroupWalk {
public:
    explicit GroupWalk(std::vector<PairRec>& pairs) : m_pairs(pairs), m_positions(pairs) {}

    // GatherGroup(start, 1) for the seed at `start`. GatherGroup recurses once
    // for every file it adds, so a long chain of pairs would recurse once per
    // pair; the levels live on a heap stack instead, visiting in the same order.
    void gather(int32_t start, GroupArrays& group)
    {
        m_levels.clear();
        open(1, start, group);
        while (!m_levels.empty()) {
            GatherLevel& level = m_levels.back();
            const int32_t file = group.cand[level.pos];
            // The last position is overwritten when a full group gathers one
            // more file; the level scanning it goes on for the new file.
            if (file != level.file) {
                level.file = file;
                level.rest = m_positions.entriesFrom(file, level.resumeAt);
            }
            if (!scan(level, start, group))
                m_levels.pop_back();
        }
    }

private:
    void open(int32_t pos, int32_t start, const GroupArrays& group)
    {
        const int32_t file = group.cand[pos];
        m_levels.push_back(GatherLevel {pos, file, m_positions.entriesFrom(file, start), start});
    }

    // Visits the level's remaining pairs; true when it stopped to open a level
    // for a newly gathered file.
    bool scan(GatherLevel& level, int32_t start, GroupArrays& group)
    {
        for (;;) {
            const int32_t entry = m_positions.firstOpen(level.rest.first);
            if (entry >= level.rest.end)
                return false;
            level.rest.first = entry + 1;
            const int32_t j = m_positions.positionAt(entry);
            PairRec& pair = m_pairs[j];
            m_positions.close(j);
            if (pair.state != PairState::Waiting)
                continue;
            const int32_t other = pair.indexA == level.file ? pair.indexB : pair.indexA;
            pair.state = PairState::Taken;
            if (group.holds(other)) {
                group.mark[level.pos] = 1; // closes a cycle with the group
                continue;
            }
            // A full group keeps its count; the new file takes the last
            // position, keeping that position's mark.
            if (group.n < kMaxGroup)
                ++group.n;
            group.cand[group.n] = other;
            level.resumeAt = j + 1;
            open(group.n, start, group); // invalidates `level`
            return true;
        }
    }

    std::vector<PairRec>& m_pairs;
    PairPositions m_positions;
    std::vector<GatherLevel> m_levels;
};

std::vector<int32_t> shownMembers(const GroupArrays& group)
{
    std::vector<int32_t> members;
    for (int32_t k = 1; k <= group.n; ++k) {
        if (group.mark[k] == 1)
            members.push_back(group.cand[k]);
    }
    return members;
}

// The group started by the waiting pair at position `start`.
void gatherGroupAt(GroupWalk& walk, const PairRec& pair, int32_t start, GroupArrays& group)
{
    group.mark.fill(0);
    group.n = 1;
    group.cand[1] = pair.indexA;
    group.mark[1] = 1;
    group.mark[2] = 1; // the seed pair itself is always shown
    walk.gather(start, group);
}

// The walk, each group handed to `shown` with its members; false from
// `shown` ends it.
template <typename Shown>
void walkGroups(std::vector<PairRec>& pairs, Shown&& shown)
{
    const std::size_t pairCount = pairs.size();
    if (pairCount == 0)
        return;
    GroupWalk walk(pairs);
    GroupArrays group;
    const auto lastSeed = static_cast<int32_t>(std::min<std::size_t>(kMaxSeed, pairCount - 1));
    for (int32_t i = 0; i <= lastSeed; ++i) {
        if (pairs[i].state != PairState::Waiting)
            continue;
        gatherGroupAt(walk, pairs[i], i, group);
        if (!shown(shownMembers(group)))
            return;
    }
}

// How many groups the walk shows: the same gathering on a copy of the list.
int32_t groupCount(const std::vector<PairRec>& pairs)
{
    std::vector<PairRec> copy = pairs;
    int32_t count = 0;
    walkGroups(copy, [&count](const std::vector<int32_t>&) {
        ++count;
        return true;
    });
    return count;
}

void resetTaken(std::vector<PairRec>& pairs)
{
    for (PairRec& pair : pairs) {
        if (pair.state == PairState::Taken)
            pair.state = PairState::Waiting;
    }
}

// Hands every group to the reviewer; with `placed`, each group also learns
// its place, which costs one more gathering of the list up front. The total
// stays exact whatever the reviews delete: a group takes every waiting pair
// of its files, so no later group holds a file shown earlier, and pairs a
// review puts out of play were already taken.
void runWalk(std::vector<PairRec>& pairs, const PlacedGroupReviewer& reviewer, bool placed)
{
    resetTaken(pairs);
    const std::size_t pairCount = pairs.size();
    GroupPlace place;
    if (placed)
        place.total = groupCount(pairs);
    walkGroups(pairs, [&](std::vector<int32_t> members) {
        ++place.number;
        const ReviewResult result = reviewer(members, place);
        if (pairs.size() != pairCount)
            throw std::logic_error("the review changed the number of pairs during the walk");
        return result != ReviewResult::Abort;
    });
}

} // namespace

void Graphic_File_Disp(std::vector<PairRec>& pairs, const GroupReviewer& reviewer)
{
    runWalk(pairs, [&reviewer](std::vector<int32_t>& group, const GroupPlace&) { return reviewer(group); }, false);
}

void Graphic_File_Disp(std::vector<PairRec>& pairs, const PlacedGroupReviewer& reviewer)
{
    runWalk(pairs, reviewer, true);
}

std::vector<std::vector<int32_t>> groupsWhenAllOk(std::vector<PairRec>& pairs)
{
    std::vector<std::vector<int32_t>> groups;
    Graphic_File_Disp(pairs, [&groups](std::vector<int32_t>& group) {
        groups.push_back(group);
        return ReviewResult::Ok;
    });
    return groups;
}

void redisplayGroups(const std::vector<std::string>& resultLines, const std::vector<File_rec>& files,
                     std::vector<PairRec>& pairs, const GroupReviewer& reviewer)
{
    pairs = rebuildPairList(resultLines, files);
    if (!pairs.empty())
        Graphic_File_Disp(pairs, reviewer);
}

void redisplayGroups(const std::vector<std::string>& resultLines, const std::vector<File_rec>& files,
                     std::vector<PairRec>& pairs, const PlacedGroupReviewer& reviewer)
{
    pairs = rebuildPairList(resultLines, files);
    if (!pairs.empty())
        Graphic_File_Disp(pairs, reviewer);
}

std::vector<GatheredGroup> gatherEveryGroup(std::vector<PairRec>& pairs)
{
    resetTaken(pairs);
    std::vector<GatheredGroup> groups;
    GroupWalk walk(pairs);
    GroupArrays group;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (pairs[i].state != PairState::Waiting)
            continue;
        gatherGroupAt(walk, pairs[i], static_cast<int32_t>(i), group);
        GatheredGroup gathered;
        for (int32_t k = 1; k <= group.n; ++k)
            (group.mark[k] == 1 ? gathered.shown : gathered.hidden).push_back(group.cand[k]);
        groups.push_back(std::move(gathered));
    }
    return groups;
}
