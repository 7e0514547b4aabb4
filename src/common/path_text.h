#pragma once

#include <string>

#include <QString>

// Paths are kept as raw file-system bytes; these turn them into text for Qt
// and back the way the file system's encoding reads them.
QString pathText(const std::string& path);
std::string pathBytes(const QString& path);
