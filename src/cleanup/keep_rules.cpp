#include "cleanup/keep_rules.h"

#include <fnmatch.h>

#include <nlohmann/json.hpp>

#include "common/file_name.h"

namespace {

constexpr std::string_view kRuleWords[] = {"pixels", "bytes",  "oldest", "newest",
                                           "path",   "folder", "name",   "not-name"};

// The rules the command line offers: the ones that need no folder or pattern.
constexpr int32_t kSimpleRules = 5;

std::optional<KeepRule> ruleOf(std::string_view word, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        if (kRuleWords[i] == word)
            return static_cast<KeepRule>(i);
    }
    return std::nullopt;
}

// Place of the first folder in `folders` holding `path`; folders.size() when none does.
std::size_t folderRank(const std::vector<std::string>& folders, std::string_view path)
{
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (isUnderFolder(path, folders[i]))
            return i;
    }
    return folders.size();
}

bool nameMatches(const std::string& pattern, const std::string& path)
{
    const std::string name(fileNameOf(path));
    return ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
}

template <typename T>
int order(const T& a, const T& b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

std::string_view ruleWord(KeepRule rule)
{
    return kRuleWords[static_cast<int32_t>(rule)];
}

std::optional<std::vector<KeepCriterion>> parseRuleList(std::string_view text, std::string& problem)
{
    std::vector<KeepCriterion> criteria;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string_view word = text.substr(start, comma == std::string_view::npos ? comma : comma - start);
        const std::optional<KeepRule> rule = ruleOf(word, kSimpleRules);
        if (!rule) {
            problem = word.empty() ? "an empty keep rule" : "unknown keep rule: " + std::string(word);
            return std::nullopt;
        }
        criteria.push_back({*rule, {}, {}});
        if (comma == std::string_view::npos)
            return criteria;
        start = comma + 1;
    }
}

std::string ruleSetText(const RuleSet& rules)
{
    nlohmann::json criteria = nlohmann::json::array();
    for (const KeepCriterion& criterion : rules.criteria) {
        nlohmann::json item {{"rule", ruleWord(criterion.rule)}};
        if (criterion.rule == KeepRule::PreferredFolder)
            item["folders"] = criterion.folders;
        if (criterion.rule == KeepRule::NameMatching || criterion.rule == KeepRule::NameNotMatching)
            item["pattern"] = criterion.pattern;
        criteria.push_back(std::move(item));
    }
    // Folders and patterns are the user's own text; bytes that are not UTF-8
    // are replaced rather than refused.
    return nlohmann::json {{"name", rules.name}, {"criteria", criteria}, {"reference", rules.referenceFolders}}.dump(
        -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<RuleSet> ruleSetFromText(std::string_view text, std::string& problem)
{
    try {
        const nlohmann::json json = nlohmann::json::parse(text);
        RuleSet rules;
        rules.name = json.value("name", std::string());
        for (const nlohmann::json& item : json.at("criteria")) {
            const std::string word = item.at("rule").get<std::string>();
            const std::optional<KeepRule> rule = ruleOf(word, static_cast<int32_t>(std::size(kRuleWords)));
            if (!rule) {
                problem = "unknown keep rule: " + word;
                return std::nullopt;
            }
            KeepCriterion criterion {*rule, {}, {}};
            if (*rule == KeepRule::PreferredFolder)
                criterion.folders = item.at("folders").get<std::vector<std::string>>();
            if (*rule == KeepRule::NameMatching || *rule == KeepRule::NameNotMatching)
                criterion.pattern = item.at("pattern").get<std::string>();
            rules.criteria.push_back(std::move(criterion));
        }
        if (json.contains("reference"))
            rules.referenceFolders = json.at("reference").get<std::vector<std::string>>();
        return rules;
    } catch (const nlohmann::json::exception& error) {
        problem = std::string("not a rule set: ") + error.what();
        return std::nullopt;
    }
}

bool isUnderFolder(std::string_view path, std::string_view folder)
{
    if (folder.empty())
        return false;
    if (folder == "/")
        return !path.empty() && path[0] == '/';
    return path.size() > folder.size() && path.substr(0, folder.size()) == folder && path[folder.size()] == '/';
}

int compareForKeep(const KeepCriterion& criterion, const MemberFacts& a, const MemberFacts& b)
{
    switch (criterion.rule) {
    case KeepRule::Pixels:
        return order(b.pixels, a.pixels);
    case KeepRule::Bytes:
        return order(b.size, a.size);
    case KeepRule::Oldest:
        return order(a.mtimeNs, b.mtimeNs);
    case KeepRule::Newest:
        return order(b.mtimeNs, a.mtimeNs);
    case KeepRule::Path:
        return order(a.path.size(), b.path.size());
    case KeepRule::PreferredFolder:
        return order(folderRank(criterion.folders, a.path), folderRank(criterion.folders, b.path));
    case KeepRule::NameMatching:
        return order(!nameMatches(criterion.pattern, a.path), !nameMatches(criterion.pattern, b.path));
    case KeepRule::NameNotMatching:
        return order(nameMatches(criterion.pattern, a.path), nameMatches(criterion.pattern, b.path));
    }
    return 0;
}

int32_t pickKept(const std::vector<KeepCriterion>& criteria, const std::vector<MemberFacts>& members,
                 const std::vector<bool>& candidate)
{
    int32_t best = -1;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (!candidate[i])
            continue;
        if (best < 0) {
            best = static_cast<int32_t>(i);
            continue;
        }
        for (const KeepCriterion& criterion : criteria) {
            const int verdict = compareForKeep(criterion, members[i], members[best]);
            if (verdict < 0)
                best = static_cast<int32_t>(i);
            if (verdict != 0)
                break;
        }
    }
    return best;
}

int32_t decidingCriterion(const std::vector<KeepCriterion>& criteria, const MemberFacts& kept,
                          const MemberFacts& other)
{
    for (std::size_t i = 0; i < criteria.size(); ++i) {
        if (compareForKeep(criteria[i], kept, other) != 0)
            return static_cast<int32_t>(i);
    }
    return -1;
}
