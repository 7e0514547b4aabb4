#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cleanup/file_identity.h"
#include "cleanup/keep_rules.h"
#include "review/search_records.h"

// A member's mark: what a batch does with it.
enum class Mark : int32_t { None, Keep, Trash };

// "none", "keep", "trash".
const char* markWord(Mark mark);
std::optional<Mark> markOf(std::string_view word);

struct CleanupMember {
    int32_t file = 0; // FileTable index
    MemberFacts facts;
    int32_t width = 0;
    int32_t height = 0;
    std::optional<FileIdentity> identity; // when the list was made; nothing: the file was gone
    bool reference = false;               // under a reference folder: never marked
    bool direct = false;                  // a result line pairs it with the kept member
    int32_t score = -1;                   // that line's score; -1 without one (and for the kept member)
    std::string decidedBy;                // the rule that put the kept member before it
    Mark mark = Mark::None;
};

struct CleanupGroup {
    std::vector<CleanupMember> members; // in display order
    std::vector<int32_t> hidden;        // gathered but not shown: FileTable indices, never marked
    int32_t kept = -1;                  // position in `members`; -1: left alone
};

// The groups of a search with a proposal of marks. Qt-free, so that the
// command line, the window and a worker thread share it.
class CleanupList {
public:
    CleanupList() = default;

    // Every group the walk's gathering finds when any waiting pair may start
    // one, in list order; facts about each shown member read from disk now.
    static CleanupList fromSearch(const std::vector<File_rec>& files, const std::vector<std::string>& resultLines);

    // The groups and their member facts as given (tests, and a window that
    // reads its facts elsewhere); `scores` give the result lines' pairs.
    struct Pair {
        int32_t a = 0;
        int32_t b = 0;
        int32_t score = 0;
    };
    static CleanupList fromGroups(std::vector<CleanupGroup> groups, const std::vector<Pair>& pairs);

    // Picks the kept member of every group by `rules` and proposes marks:
    // trash for a member the result lines pair directly with it and that
    // is not under a reference folder; none for the rest. A group wholly
    // under reference folders is left alone. Hand-set marks are lost.
    void applyRules(const RuleSet& rules);

    // Sets one mark. Refused (false, nothing changed) when it would leave
    // every member of the group marked for the trash.
    bool setMark(std::size_t group, std::size_t member, Mark mark);

    std::size_t groupCount() const { return m_groups.size(); }
    const CleanupGroup& group(std::size_t index) const { return m_groups[index]; }
    const std::vector<CleanupGroup>& groups() const { return m_groups; }

    // Files and bytes marked for the trash.
    int64_t markedFiles() const;
    int64_t markedBytes() const;

    // The score of the result line pairing two files; -1 without one.
    int32_t pairScore(int32_t a, int32_t b) const;

private:
    std::vector<CleanupGroup> m_groups;
    std::vector<Pair> m_pairs; // ascending by (a, b), a < b
};
