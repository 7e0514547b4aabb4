#include "common/path_text.h"

#include <QByteArray>
#include <QFile>

QString pathText(const std::string& path)
{
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string pathBytes(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}
