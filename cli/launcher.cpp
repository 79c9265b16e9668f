// varnel-cli as the user starts it. It links nothing beyond the C library and at once becomes one
// of two programs, with the same command line, standard streams and environment: for unpack (and
// the help and version) the one that reads projection files, which links only what that needs;
// for every other command the tool, which loads GDAL, PROJ and Qt's drawing to run them all.
// Loading those took a sixth of unpacking a big map; starting here costs under a millisecond.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

/// The command the command line names: its first argument other than --progress (which may
/// come before the command), or null.
const char* CommandName(int argc, char* argv[])
{
    int named = 1;
    while (named < argc && std::strcmp(argv[named], "--progress") == 0)
        ++named;
    return named < argc ? argv[named] : nullptr;
}

/// Whether the program that reads projection files answers the command line: unpack, and what
/// names no command (the help, the version, a wrong option), which it answers from the same table.
bool ForTheReader(const char* name)
{
    return name == nullptr || name[0] == '-' || std::strcmp(name, "unpack") == 0;
}

} // namespace

int main(int argc, char* argv[])
{
    const char* program = ForTheReader(CommandName(argc, argv)) ? "varnel-cli-unpack" : "varnel-cli-tool";
    // The programs lie at a fixed place relative to this one: in the installed layout
    // VARNEL_LIBEXEC_FROM_BIN from the folder of the programs, in a build folder libexec/ in it.
    // Never relative to the working folder, which could start any program found there.
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        std::fprintf(stderr, "varnel-cli: cannot find where it is installed (%s)\n", std::strerror(errno));
        return 1;
    }
    self[length] = '\0';
    *(std::strrchr(self, '/') + 1) = '\0'; // the folder, with its slash
    int error = ENOENT;
    const char* const places[] = {VARNEL_LIBEXEC_FROM_BIN "/", "libexec/"};
    for (const char* place : places) {
        char path[PATH_MAX + 64];
        if (std::snprintf(path, sizeof path, "%s%s%s", self, place, program) < int(sizeof path))
            execv(path, argv);
        else
            errno = ENAMETOOLONG;
        if (errno != ENOENT)
            error = errno;
    }
    std::fprintf(stderr, "varnel-cli: cannot start %s%s/%s: %s; reinstall Varnel\n", self,
                 VARNEL_LIBEXEC_FROM_BIN, program, std::strerror(error));
    return 1;
}
