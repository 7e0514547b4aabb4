#include "cli/signature_commands.h"

#include <cstdio>

// Placeholder until the identical-picture engine lands.
int printIdenticalSignature(const std::string&)
{
    std::fputs("zelvic-cli: the identical-picture signature is not available yet\n", stderr);
    return 1;
}
