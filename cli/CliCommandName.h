#pragma once
// The command a varnel-cli command line names, found without Qt: the launcher has none.

#include <cstring>

/// The first argument other than --progress (which may come before the command), or null.
inline const char* CliCommandName(int argc, char* argv[])
{
    int named = 1;
    while (named < argc && std::strcmp(argv[named], "--progress") == 0)
        ++named;
    return named < argc ? argv[named] : nullptr;
}
