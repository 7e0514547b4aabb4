#include "cleanup/cleanup_plan.h"

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;

constexpr int kPlanVersion = 1;

bool isUtf8(std::string_view bytes)
{
    try {
        (void)Json(std::string(bytes)).dump();
        return true;
    } catch (const Json::type_error&) {
        return false;
    }
}

std::string hexOf(std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

std::optional<std::string> bytesOfHex(std::string_view hex)
{
    const auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : (c >= 'a' && c <= 'f' ? c - 'a' + 10 : (c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1));
    };
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]);
        const int low = digit(hex[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
    }
    return out;
}

void putPath(Json& object, const char* key, const std::string& path)
{
    // A name that is not UTF-8 shows with U+FFFD, and its bytes go beside it.
    object[key] = Json(path).dump(-1, ' ', false, Json::error_handler_t::replace);
    object[key] = Json::parse(object[key].get<std::string>());
    if (!isUtf8(path))
        object[std::string(key) + "_hex"] = hexOf(path);
}

} // namespace

CleanupPlan planOf(const CleanupList& list, const std::string& folder, const std::string& optionsJson)
{
    CleanupPlan plan;
    plan.folder = folder;
    plan.optionsJson = optionsJson;
    for (const CleanupGroup& group : list.groups()) {
        PlanGroup planned;
        for (const CleanupMember& member : group.members)
            planned.members.push_back({member.facts.path, member.identity.value_or(FileIdentity {}), member.mark});
        plan.groups.push_back(std::move(planned));
    }
    return plan;
}

std::string planText(const CleanupPlan& plan)
{
    Json json;
    json["version"] = kPlanVersion;
    putPath(json, "folder", plan.folder);
    json["options"] = Json::parse(plan.optionsJson);
    Json groups = Json::array();
    for (const PlanGroup& group : plan.groups) {
        Json members = Json::array();
        for (const PlanMember& member : group.members) {
            Json item;
            putPath(item, "path", member.path);
            item["size"] = member.identity.size;
            item["mtime_ns"] = member.identity.mtimeNs;
            item["ctime_ns"] = member.identity.ctimeNs;
            item["device"] = member.identity.device;
            item["inode"] = member.identity.inode;
            item["mark"] = markWord(member.mark);
            members.push_back(std::move(item));
        }
        groups.push_back(Json {{"members", std::move(members)}});
    }
    json["groups"] = std::move(groups);
    // One group a line: a plan of thousands of groups stays readable and diffable.
    std::string text = "{\"version\":" + std::to_string(kPlanVersion) + ",\"folder\":" + json["folder"].dump();
    if (json.contains("folder_hex"))
        text += ",\"folder_hex\":" + json["folder_hex"].dump();
    text += ",\"options\":" + json["options"].dump() + ",\"groups\":[";
    bool first = true;
    for (const Json& group : json["groups"]) {
        text += first ? "\n" : ",\n";
        text += group.dump();
        first = false;
    }
    text += "\n]}\n";
    return text;
}

std::optional<CleanupPlan> planFromText(std::string_view text, std::string& problem)
{
    try {
        const Json json = Json::parse(text);
        if (json.at("version").get<int>() != kPlanVersion) {
            problem = "unknown plan version " + json.at("version").dump();
            return std::nullopt;
        }
        const auto pathOf = [](const Json& object, const char* key) {
            const std::string hexKey = std::string(key) + "_hex";
            if (object.contains(hexKey)) {
                if (std::optional<std::string> bytes = bytesOfHex(object.at(hexKey).get<std::string>()))
                    return *bytes;
                throw std::invalid_argument("bad " + hexKey);
            }
            return object.at(key).get<std::string>();
        };
        CleanupPlan plan;
        plan.folder = json.contains("folder") ? pathOf(json, "folder") : std::string();
        plan.optionsJson = json.contains("options") ? json.at("options").dump() : "{}";
        std::size_t groupNumber = 0;
        for (const Json& group : json.at("groups")) {
            ++groupNumber;
            PlanGroup planned;
            for (const Json& item : group.at("members")) {
                PlanMember member;
                member.path = pathOf(item, "path");
                member.identity.size = item.at("size").get<int64_t>();
                member.identity.mtimeNs = item.at("mtime_ns").get<int64_t>();
                member.identity.ctimeNs = item.value("ctime_ns", int64_t {0});
                member.identity.device = item.at("device").get<uint64_t>();
                member.identity.inode = item.at("inode").get<uint64_t>();
                const std::optional<Mark> mark = markOf(item.at("mark").get<std::string>());
                if (!mark) {
                    problem = "group " + std::to_string(groupNumber) + ": unknown mark " + item.at("mark").dump();
                    return std::nullopt;
                }
                member.mark = *mark;
                planned.members.push_back(std::move(member));
            }
            plan.groups.push_back(std::move(planned));
        }
        return plan;
    } catch (const std::exception& error) {
        problem = std::string("not a plan: ") + error.what();
        return std::nullopt;
    }
}
