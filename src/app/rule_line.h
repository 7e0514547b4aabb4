#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QString>

#include "cleanup/keep_rules.h"

// The keep rules as the group list's line holds them: comma-separated, in
// order; besides the command line's five words, "folder=A;B" (preferred
// folders, best first), "name=GLOB" and "not-name=GLOB". Nothing, with
// `problem` set, for a line that is not such a list.
std::optional<std::vector<KeepCriterion>> parseRuleLine(const QString& line, std::string& problem);

// The line for `criteria`, read back by parseRuleLine to the same criteria.
QString ruleLineOf(const std::vector<KeepCriterion>& criteria);
