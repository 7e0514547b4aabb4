#include "app/search_folder_settings.h"

#include <cstdlib>

#include <QSettings>
#include <QStringList>

#include "app/settings_location.h"
#include "common/folder_path.h"
#include "common/path_text.h"

namespace {

const QString kFoldersKey = QStringLiteral("Search/MoreFolders");
const QString kExcludesKey = QStringLiteral("Search/Excludes");

QStringList textsOf(const std::vector<std::string>& paths)
{
    QStringList texts;
    for (const std::string& path : paths)
        texts.append(pathText(path));
    return texts;
}

} // namespace

std::string SearchFolderSettings::defaultPath()
{
    const char* home = std::getenv("HOME");
    return childPath(settings_location::configFolder(std::getenv("XDG_CONFIG_HOME"), home ? home : ""), kFileName);
}

SearchFolderSettings SearchFolderSettings::read(const std::string& path)
{
    SearchFolderSettings settings;
    const QSettings file(pathText(path), QSettings::IniFormat);
    for (const QString& text : file.value(kFoldersKey).toStringList()) {
        const std::string folder = pathBytes(text);
        if (!folder.empty() && folder.front() == '/')
            settings.moreFolders.push_back(absoluteFolder(folder, "/"));
    }
    for (const QString& text : file.value(kExcludesKey).toStringList())
        if (!text.isEmpty())
            settings.excludes.push_back(pathBytes(text));
    return settings;
}

bool SearchFolderSettings::write(const std::string& path) const
{
    try {
        settings_location::makeFolders(parentFolder(path));
    } catch (const std::exception&) {
        return false;
    }
    QSettings file(pathText(path), QSettings::IniFormat);
    file.setValue(kFoldersKey, textsOf(moreFolders));
    file.setValue(kExcludesKey, textsOf(excludes));
    file.sync();
    return file.status() == QSettings::NoError;
}
