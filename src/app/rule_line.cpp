#include "app/rule_line.h"

#include <QStringList>

std::optional<std::vector<KeepCriterion>> parseRuleLine(const QString& line, std::string& problem)
{
    std::vector<KeepCriterion> criteria;
    for (const QString& part : line.split(QLatin1Char(','))) {
        const QString word = part.trimmed();
        const qsizetype equals = word.indexOf(QLatin1Char('='));
        if (equals < 0) {
            std::optional<std::vector<KeepCriterion>> simple = parseRuleList(word.toStdString(), problem);
            if (!simple)
                return std::nullopt;
            criteria.push_back(simple->front());
            continue;
        }
        const QString key = word.left(equals).trimmed();
        const QString value = word.mid(equals + 1).trimmed();
        KeepCriterion criterion;
        if (key == QLatin1String("folder")) {
            criterion.rule = KeepRule::PreferredFolder;
            for (const QString& folder : value.split(QLatin1Char(';'), Qt::SkipEmptyParts))
                criterion.folders.push_back(folder.trimmed().toStdString());
            if (criterion.folders.empty()) {
                problem = "folder= names no folder";
                return std::nullopt;
            }
        } else if (key == QLatin1String("name") || key == QLatin1String("not-name")) {
            criterion.rule = key == QLatin1String("name") ? KeepRule::NameMatching : KeepRule::NameNotMatching;
            criterion.pattern = value.toStdString();
            if (criterion.pattern.empty()) {
                problem = key.toStdString() + "= has no pattern";
                return std::nullopt;
            }
        } else {
            problem = "unknown keep rule: " + key.toStdString();
            return std::nullopt;
        }
        criteria.push_back(std::move(criterion));
    }
    return criteria;
}

QString ruleLineOf(const std::vector<KeepCriterion>& criteria)
{
    QStringList words;
    for (const KeepCriterion& criterion : criteria) {
        QString word = QString::fromUtf8(ruleWord(criterion.rule));
        if (criterion.rule == KeepRule::PreferredFolder) {
            QStringList folders;
            for (const std::string& folder : criterion.folders)
                folders.append(QString::fromStdString(folder));
            word += QLatin1Char('=') + folders.join(QLatin1Char(';'));
        } else if (criterion.rule == KeepRule::NameMatching || criterion.rule == KeepRule::NameNotMatching) {
            word += QLatin1Char('=') + QString::fromStdString(criterion.pattern);
        }
        words.append(word);
    }
    return words.join(QLatin1Char(','));
}
