#include <cstdio>
#include <string>

#include "cli/signature_commands.h"

// Placeholder: the search command lands with the foundation work.
int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "signature") {
        (void)argv;
    }
    std::fputs("usage: zelvic-cli search FOLDER [options] | signature --engine identical|similar FILE\n", stderr);
    return 2;
}
