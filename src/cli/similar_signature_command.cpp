#include "cli/signature_commands.h"

#include <cstdio>

// Placeholder until the similar-picture engine lands.
int printSimilarSignature(const std::string&)
{
    std::fputs("zelvic-cli: the similar-picture signature is not available yet\n", stderr);
    return 1;
}
