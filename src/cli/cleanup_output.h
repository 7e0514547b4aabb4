#pragma once

#include <cstdio>
#include <string>

#include "cleanup/cleanup_list.h"
#include "search/search_options.h"

// The search's output of a clean-up proposal.

// The JSON `marks`: per group `members` (file indices in display order),
// `keep` (null for a group left alone) and `trash` (ascending).
std::string marksJson(const CleanupList& list);

// Each group's paths, each after its mark word and a tab ("keep", "trash",
// "none"); groups apart as the plain output has them. Names escaped unless `raw`.
void printMarkedGroups(const CleanupList& list, bool null, bool raw, std::FILE* to);

// One line per member: group, path, size, width, height, date, score with
// the kept file, mark, the rule that decided it; a header line first.
void printCsv(const CleanupList& list, std::FILE* to);

// The plan's `options` object.
std::string planOptionsJson(const SearchOptions& options, const RuleSet& rules);

// A quoted CSV field: the text in double quotes, each quote doubled.
std::string csvField(const std::string& text);
