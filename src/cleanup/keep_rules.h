#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a keep rule prefers in the member it keeps.
enum class KeepRule : int32_t {
    Pixels,          // most pixels
    Bytes,           // largest file
    Oldest,          // earliest modification time
    Newest,          // latest modification time
    Path,            // shortest path
    PreferredFolder, // under the first folder of `folders` that holds one
    NameMatching,    // a name matching `pattern`
    NameNotMatching, // a name not matching `pattern`
};

struct KeepCriterion {
    KeepRule rule = KeepRule::Pixels;
    std::vector<std::string> folders; // PreferredFolder, best first
    std::string pattern;              // NameMatching, NameNotMatching: a shell glob on the file name

    bool operator==(const KeepCriterion&) const = default;
};

// Criteria as tie-breakers in order (a final tie keeps the earliest member),
// and the reference folders whose files are never marked. A named set is
// what the window stores.
struct RuleSet {
    std::string name;
    std::vector<KeepCriterion> criteria;
    std::vector<std::string> referenceFolders;

    bool operator==(const RuleSet&) const = default;
};

// The facts about a member that the rules compare.
struct MemberFacts {
    std::string path;
    int64_t size = 0;
    int64_t pixels = 0;
    int64_t mtimeNs = 0;
};

// "pixels", "bytes", "oldest", "newest", "path", "folder", "name", "not-name".
std::string_view ruleWord(KeepRule rule);

// A command line's RULE[,RULE...] of the five simple rules; nothing, with
// `problem` set, for an unknown or empty rule.
std::optional<std::vector<KeepCriterion>> parseRuleList(std::string_view text, std::string& problem);

// A rule set as one JSON object and back; nothing, with `problem` set, for
// text that is not one.
std::string ruleSetText(const RuleSet& rules);
std::optional<RuleSet> ruleSetFromText(std::string_view text, std::string& problem);

// Whether `path` lies under `folder` (both absolute; the folder itself counts).
bool isUnderFolder(std::string_view path, std::string_view folder);

// Negative when `a` is the better one to keep under `criterion`, positive
// when `b` is, 0 on a tie.
int compareForKeep(const KeepCriterion& criterion, const MemberFacts& a, const MemberFacts& b);

// The member to keep among those with `candidate` set: the best under the
// criteria in order, the earliest on a final tie. -1 when there is no
// candidate.
int32_t pickKept(const std::vector<KeepCriterion>& criteria, const std::vector<MemberFacts>& members,
                 const std::vector<bool>& candidate);

// The first criterion on which `kept` beats `other`: its index, or -1 when
// only the order in the group decided.
int32_t decidingCriterion(const std::vector<KeepCriterion>& criteria, const MemberFacts& kept,
                          const MemberFacts& other);
