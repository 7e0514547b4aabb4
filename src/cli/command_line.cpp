#include "cli/command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <QStringList>

std::optional<std::string> parseCommandWords(QCommandLineParser& parser, const std::vector<std::string>& words)
{
    // Latin-1 gives every byte a character of its own, so a file name comes
    // back from the parser byte for byte whatever its encoding; the option
    // names are ASCII either way.
    QStringList arguments {QStringLiteral("zelvic-cli")};
    for (const std::string& word : words)
        arguments.append(QString::fromLatin1(word.data(), static_cast<qsizetype>(word.size())));
    if (parser.parse(arguments))
        return std::nullopt;
    return wordBytes(parser.errorText());
}

std::string wordBytes(const QString& text)
{
    return text.toLatin1().toStdString();
}

QCommandLineOption verboseOption()
{
    return QCommandLineOption(QStringLiteral("verbose"));
}

bool outputWritten()
{
    static bool reported = false;
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    if (!reported) {
        // The reason is known only when this flush met it; an earlier write
        // that failed left nothing but the stream's error flag.
        const int error = errno;
        std::fprintf(stderr, "zelvic-cli: cannot write the output%s%s\n", error != 0 ? ": " : "",
                     error != 0 ? std::strerror(error) : "");
        reported = true;
    }
    return false;
}
