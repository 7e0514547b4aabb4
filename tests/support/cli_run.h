#pragma once

// Runs the zelvic-cli that the including test target names in
// ZELVIC_CLI_PATH. Header-only for that reason.

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>

#include "support/test_pictures.h"

namespace testing_support {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string shellQuoted(const std::string& word)
{
    std::string text = "'";
    for (char c : word)
        text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}


// The shell command that runs zelvic-cli with args (each quoted) in folder cwd.
inline std::string cliCommand(const std::vector<std::string>& args, const std::string& cwd = "/")
{
    std::string command = "cd " + shellQuoted(cwd) + " && " + shellQuoted(ZELVIC_CLI_PATH);
    for (const std::string& arg : args) {
        command += ' ';
        command += shellQuoted(arg);
    }
    return command;
}

// Runs zelvic-cli with args (each quoted) in folder cwd; output goes through files.
inline CliRun runCli(const std::vector<std::string>& args, const std::string& cwd = "/")
{
    static int serial = 0;
    const TempDir out;
    ::chmod(out.str().c_str(), 0777);
    const std::string outPath = out.str() + "/out" + std::to_string(++serial);
    const std::string errPath = out.str() + "/err" + std::to_string(serial);
    const std::string command = cliCommand(args, cwd) + " >" + shellQuoted(outPath) + " 2>" + shellQuoted(errPath);
    CliRun run;
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFileText(outPath);
    run.err = readFileText(errPath);
    return run;
}

} // namespace testing_support
