#include "cli/cleanup_output.h"

#include <algorithm>
#include <ctime>

#include "cli/json_text.h"
#include "cli/name_text.h"

namespace {

constexpr const char* kModeWords[] = {"size", "dims", "identical", "similar"};

std::string localTime(int64_t nanoseconds)
{
    const std::time_t seconds = static_cast<std::time_t>(nanoseconds / 1000000000);
    std::tm local {};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

} // namespace

std::string marksJson(const CleanupList& list)
{
    Json marks = Json::array();
    for (const CleanupGroup& group : list.groups()) {
        Json members = Json::array();
        std::vector<int32_t> trash;
        for (const CleanupMember& member : group.members) {
            members.push_back(member.file);
            if (member.mark == Mark::Trash)
                trash.push_back(member.file);
        }
        std::sort(trash.begin(), trash.end());
        Json item;
        item["members"] = std::move(members);
        item["keep"] = group.kept >= 0 ? Json(group.members[static_cast<std::size_t>(group.kept)].file) : Json(nullptr);
        item["trash"] = trash;
        marks.push_back(std::move(item));
    }
    return jsonText(marks);
}

void printMarkedGroups(const CleanupList& list, bool null, bool raw, std::FILE* to)
{
    const char end = null ? '\0' : '\n';
    bool first = true;
    for (const CleanupGroup& group : list.groups()) {
        if (!first)
            std::fputc(end, to);
        first = false;
        for (const CleanupMember& member : group.members) {
            const std::string shown = raw ? member.facts.path : escapedName(member.facts.path);
            std::fprintf(to, "%s\t", markWord(member.mark));
            std::fwrite(shown.data(), 1, shown.size(), to);
            std::fputc(end, to);
        }
    }
}

std::string csvField(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

void printCsv(const CleanupList& list, std::FILE* to)
{
    std::fputs("group,path,size,width,height,date,score,mark,rule\n", to);
    for (std::size_t g = 0; g < list.groupCount(); ++g) {
        for (const CleanupMember& member : list.group(g).members) {
            const std::string line = std::to_string(g + 1) + "," + csvField(utf8Text(member.facts.path)) + "," +
                                     std::to_string(member.facts.size) + "," + std::to_string(member.width) + "," +
                                     std::to_string(member.height) + "," +
                                     (member.identity ? localTime(member.facts.mtimeNs) : std::string()) + "," +
                                     (member.score >= 0 ? std::to_string(member.score) : std::string()) + "," +
                                     markWord(member.mark) + "," + member.decidedBy + "\n";
            std::fputs(line.c_str(), to);
        }
    }
}

std::string planOptionsJson(const SearchOptions& options, const RuleSet& rules)
{
    Json keep = Json::array();
    for (const KeepCriterion& criterion : rules.criteria)
        keep.push_back(std::string(ruleWord(criterion.rule)));
    Json reference = Json::array();
    for (const std::string& folder : rules.referenceFolders)
        reference.push_back(utf8Text(folder));
    Json json;
    json["mode"] = kModeWords[static_cast<int32_t>(options.mode)];
    json["level"] = options.level;
    json["depth"] = options.depth;
    json["keep"] = std::move(keep);
    json["reference"] = std::move(reference);
    return jsonText(json);
}
