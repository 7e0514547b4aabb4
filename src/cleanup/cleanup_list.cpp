#include "cleanup/cleanup_list.h"

#include <algorithm>
#include <charconv>
#include <set>

#include "picture/picture_size.h"
#include "review/group_walk.h"
#include "search/file_table.h"
#include "search/pair_list.h"

namespace {

constexpr const char* kMarkWords[] = {"none", "keep", "trash"};

CleanupList::Pair orderedPair(int32_t a, int32_t b, int32_t score)
{
    return a < b ? CleanupList::Pair {a, b, score} : CleanupList::Pair {b, a, score};
}

bool pairBefore(const CleanupList::Pair& x, const CleanupList::Pair& y)
{
    return x.a != y.a ? x.a < y.a : (x.b != y.b ? x.b < y.b : x.score < y.score);
}

// The score in a result line's first four characters; nothing for another line.
std::optional<int32_t> lineScore(std::string_view line)
{
    const std::size_t end = line.find(',');
    int32_t score = 0;
    if (end == std::string_view::npos || end == 0 ||
        std::from_chars(line.data(), line.data() + end, score).ptr != line.data() + end)
        return std::nullopt;
    return score;
}

CleanupMember memberOf(const File_rec& record, int32_t file)
{
    CleanupMember member;
    member.file = file;
    member.facts.path = record.path;
    member.facts.size = record.size;
    member.identity = readIdentity(record.path);
    if (member.identity) {
        member.facts.size = member.identity->size;
        member.facts.mtimeNs = member.identity->mtimeNs;
    }
    member.width = record.width;
    member.height = record.height;
    if (member.width <= 0 || member.height <= 0) {
        // Only the picture-size search reads sizes; the header gives them cheaply.
        LoadedPicture failure;
        if (const std::optional<PictureSize> size = ReadShownSize(record.path, failure)) {
            member.width = size->width;
            member.height = size->height;
        }
    }
    member.facts.pixels = static_cast<int64_t>(member.width) * member.height;
    return member;
}

} // namespace

const char* markWord(Mark mark)
{
    return kMarkWords[static_cast<int32_t>(mark)];
}

std::optional<Mark> markOf(std::string_view word)
{
    for (int32_t i = 0; i < 3; ++i) {
        if (word == kMarkWords[i])
            return static_cast<Mark>(i);
    }
    return std::nullopt;
}

CleanupList CleanupList::fromSearch(const std::vector<File_rec>& files, const std::vector<std::string>& resultLines)
{
    std::vector<PairRec> pairList = buildPairList(resultLines);
    const std::vector<GatheredGroup> gathered = gatherEveryGroup(pairList);

    std::vector<Pair> pairs;
    pairs.reserve(resultLines.size());
    for (const std::string& line : resultLines) {
        const std::optional<ResultIndices> indices = parseResultIndices(line);
        const std::optional<int32_t> score = lineScore(line);
        if (indices && score)
            pairs.push_back(orderedPair(indices->indexA, indices->indexB, *score));
    }

    std::vector<CleanupGroup> groups;
    groups.reserve(gathered.size());
    for (const GatheredGroup& found : gathered) {
        CleanupGroup group;
        for (int32_t file : found.shown) {
            if (file >= 0 && static_cast<std::size_t>(file) < files.size())
                group.members.push_back(memberOf(files[static_cast<std::size_t>(file)], file));
        }
        group.hidden = found.hidden;
        groups.push_back(std::move(group));
    }
    return fromGroups(std::move(groups), pairs);
}

CleanupList CleanupList::fromGroups(std::vector<CleanupGroup> groups, const std::vector<Pair>& pairs)
{
    CleanupList list;
    list.m_groups = std::move(groups);
    list.m_pairs.reserve(pairs.size());
    for (const Pair& pair : pairs)
        list.m_pairs.push_back(orderedPair(pair.a, pair.b, pair.score));
    // The best (lowest) score first when two lines pair the same files.
    std::sort(list.m_pairs.begin(), list.m_pairs.end(), pairBefore);
    return list;
}

int32_t CleanupList::pairScore(int32_t a, int32_t b) const
{
    const Pair key = orderedPair(a, b, INT32_MIN);
    const auto found = std::lower_bound(m_pairs.begin(), m_pairs.end(), key, pairBefore);
    if (found == m_pairs.end() || found->a != key.a || found->b != key.b)
        return -1;
    return found->score;
}

void CleanupList::applyRules(const RuleSet& rules)
{
    // A file kept in one group is never marked in another (a group that
    // overflowed its 300 places can share files with a later one).
    std::set<int32_t> keptFiles;
    for (CleanupGroup& group : m_groups) {
        std::vector<MemberFacts> facts;
        std::vector<bool> candidate;
        bool anyReference = false;
        for (CleanupMember& member : group.members) {
            member.reference = false;
            for (const std::string& folder : rules.referenceFolders)
                member.reference = member.reference || isUnderFolder(member.facts.path, folder);
            anyReference = anyReference || member.reference;
            facts.push_back(member.facts);
        }
        // With a reference copy present, that copy is the one to keep.
        for (const CleanupMember& member : group.members)
            candidate.push_back(!anyReference || member.reference);
        const bool allReference =
            std::all_of(group.members.begin(), group.members.end(), [](const CleanupMember& m) { return m.reference; });
        group.kept = allReference ? -1 : pickKept(rules.criteria, facts, candidate);

        for (std::size_t i = 0; i < group.members.size(); ++i) {
            CleanupMember& member = group.members[i];
            member.mark = Mark::None;
            member.direct = false;
            member.score = -1;
            member.decidedBy.clear();
            if (group.kept < 0)
                continue;
            const CleanupMember& kept = group.members[static_cast<std::size_t>(group.kept)];
            if (static_cast<int32_t>(i) == group.kept) {
                member.mark = Mark::Keep;
                continue;
            }
            member.score = pairScore(kept.file, member.file);
            member.direct = member.score >= 0;
            const int32_t rule = decidingCriterion(rules.criteria, kept.facts, member.facts);
            member.decidedBy = member.reference ? "reference"
                               : rule >= 0      ? std::string(ruleWord(rules.criteria[static_cast<std::size_t>(rule)].rule))
                                                : "order";
            if (member.direct && !member.reference)
                member.mark = Mark::Trash;
        }
        if (group.kept >= 0) {
            // The kept member's rule: the earliest that put it before another member.
            CleanupMember& kept = group.members[static_cast<std::size_t>(group.kept)];
            int32_t earliest = -1;
            for (const CleanupMember& member : group.members) {
                if (&member == &kept || member.reference)
                    continue;
                const int32_t rule = decidingCriterion(rules.criteria, kept.facts, member.facts);
                if (rule >= 0 && (earliest < 0 || rule < earliest))
                    earliest = rule;
            }
            kept.decidedBy = kept.reference ? "reference"
                             : earliest >= 0 ? std::string(ruleWord(rules.criteria[static_cast<std::size_t>(earliest)].rule))
                                             : "order";
            keptFiles.insert(kept.file);
        }
    }
    for (CleanupGroup& group : m_groups) {
        for (CleanupMember& member : group.members) {
            if (member.mark == Mark::Trash && keptFiles.count(member.file) != 0)
                member.mark = Mark::None;
        }
    }
}

bool CleanupList::setMark(std::size_t group, std::size_t member, Mark mark)
{
    if (group >= m_groups.size() || member >= m_groups[group].members.size())
        return false;
    std::vector<CleanupMember>& members = m_groups[group].members;
    if (mark == Mark::Trash) {
        const auto others = std::count_if(members.begin(), members.end(),
                                          [](const CleanupMember& m) { return m.mark != Mark::Trash; });
        if (others - (members[member].mark != Mark::Trash ? 1 : 0) <= 0)
            return false;
    }
    members[member].mark = mark;
    return true;
}

int64_t CleanupList::markedFiles() const
{
    int64_t count = 0;
    for (const CleanupGroup& group : m_groups)
        count += std::count_if(group.members.begin(), group.members.end(),
                               [](const CleanupMember& m) { return m.mark == Mark::Trash; });
    return count;
}

int64_t CleanupList::markedBytes() const
{
    int64_t bytes = 0;
    for (const CleanupGroup& group : m_groups) {
        for (const CleanupMember& member : group.members) {
            if (member.mark == Mark::Trash)
                bytes += member.facts.size;
        }
    }
    return bytes;
}
