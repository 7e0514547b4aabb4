#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cleanup/cleanup_list.h"

// A proposal written to a file, for a person or a script to edit and for
// `apply` to carry out.
struct PlanMember {
    std::string path;
    FileIdentity identity;
    Mark mark = Mark::None;
};

struct PlanGroup {
    std::vector<PlanMember> members;
};

struct CleanupPlan {
    std::string folder;
    std::string optionsJson = "{}"; // the search's options and rules, one JSON object
    std::vector<PlanGroup> groups;
};

// The plan of a list's current marks. A member whose file was gone when the
// list was made keeps identity 0 and so never passes the check.
CleanupPlan planOf(const CleanupList& list, const std::string& folder, const std::string& optionsJson);

// Version 1 plan text: `version`, `folder`, `options` and `groups`, each
// with `members` holding `path`, `size`, `mtime_ns`, `ctime_ns`, `device`,
// `inode` and `mark`. A name that is not UTF-8 is also given byte for byte
// in `path_hex`, which reading prefers.
std::string planText(const CleanupPlan& plan);

// Nothing, with `problem` set, for text that is not such a plan.
std::optional<CleanupPlan> planFromText(std::string_view text, std::string& problem);
