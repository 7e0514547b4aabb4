#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QCommandLineParser>
#include <QString>

// Runs parser over the words after a command (QCommandLineParser takes them
// without a program name in front). Returns what is wrong with them, for a
// message before the usage lines; nothing when they parse.
std::optional<std::string> parseCommandWords(QCommandLineParser& parser, const std::vector<std::string>& words);

// --verbose, which every command takes: what went wrong along the way
// (folders passed over, unreadable pictures, cache faults) is logged on
// standard error.
QCommandLineOption verboseOption();

// A word or an option value as the bytes it was given in.
std::string wordBytes(const QString& text);

// Flushes standard output; when that or an earlier write failed (a full
// disk, a closed pipe), says so on standard error once and returns false.
bool outputWritten();
