#include "app/group_list_settings.h"

#include <algorithm>

#include <QDir>
#include <QSettings>

namespace {

const QString kOpenList = QStringLiteral("OpenListAfterSearch");
const QString kRuleSets = QStringLiteral("RuleSets");

} // namespace

QString GroupListSettings::defaultPath()
{
    QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/zelvic/group_list.ini");
}

bool GroupListSettings::openListAfterSearch() const
{
    return QSettings(m_path, QSettings::IniFormat).value(kOpenList, false).toBool();
}

void GroupListSettings::setOpenListAfterSearch(bool open)
{
    QSettings(m_path, QSettings::IniFormat).setValue(kOpenList, open);
}

std::vector<RuleSet> GroupListSettings::ruleSets() const
{
    QSettings settings(m_path, QSettings::IniFormat);
    settings.beginGroup(kRuleSets);
    std::vector<RuleSet> sets;
    // Keys are positions, not names: a name may hold any character.
    for (const QString& key : settings.childKeys()) {
        std::string problem;
        if (std::optional<RuleSet> rules = ruleSetFromText(settings.value(key).toString().toStdString(), problem))
            sets.push_back(std::move(*rules));
    }
    std::sort(sets.begin(), sets.end(), [](const RuleSet& a, const RuleSet& b) { return a.name < b.name; });
    return sets;
}

void GroupListSettings::saveRuleSet(const RuleSet& rules)
{
    std::vector<RuleSet> sets = ruleSets();
    std::erase_if(sets, [&rules](const RuleSet& set) { return set.name == rules.name; });
    sets.push_back(rules);
    writeRuleSets(sets);
}

void GroupListSettings::removeRuleSet(const QString& name)
{
    std::vector<RuleSet> sets = ruleSets();
    std::erase_if(sets, [&name](const RuleSet& set) { return set.name == name.toStdString(); });
    writeRuleSets(sets);
}

void GroupListSettings::writeRuleSets(const std::vector<RuleSet>& sets)
{
    QSettings settings(m_path, QSettings::IniFormat);
    settings.remove(kRuleSets);
    settings.beginGroup(kRuleSets);
    for (std::size_t i = 0; i < sets.size(); ++i)
        settings.setValue(QStringLiteral("set%1").arg(i + 1), QString::fromStdString(ruleSetText(sets[i])));
}
