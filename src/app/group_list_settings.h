#pragma once

#include <vector>

#include <QString>

#include "cleanup/keep_rules.h"

// The group list's own settings, kept apart from Zelvic.ini (whose lines
// stay as they are): whether a search opens the list instead of the review,
// and the named rule sets. An INI file, by default
// $XDG_CONFIG_HOME/zelvic/group_list.ini (~/.config when unset).
class GroupListSettings {
public:
    static QString defaultPath();

    explicit GroupListSettings(QString path = defaultPath()) : m_path(std::move(path)) {}

    bool openListAfterSearch() const;
    void setOpenListAfterSearch(bool open);

    // Sorted by name; a set whose text cannot be read is passed over.
    std::vector<RuleSet> ruleSets() const;
    // Replaces a set of the same name.
    void saveRuleSet(const RuleSet& rules);
    void removeRuleSet(const QString& name);

private:
    void writeRuleSets(const std::vector<RuleSet>& sets);

    QString m_path;
};
