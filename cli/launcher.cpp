// varnel-cli as the user starts it. It answers the help and unpack itself and hands every other
// command, with the whole command line, to the tool that runs them all. Only the tool loads
// GDAL, PROJ and Qt's drawing; unpack of a big map would otherwise spend a sixth of its time
// loading them.

#include "CliMain.h"
#include "Commands.h"

#include <QCoreApplication>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

const CliRunner kRunners[] = {
    {"unpack", RunUnpackCommand},
};

std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char* argv[], const char*)
{
    return std::make_unique<QCoreApplication>(argc, argv);
}

/// Replaces this process with the tool, which gets the same command line, standard streams and
/// environment. Where the tool lies is fixed relative to this program: in the installed layout
/// VARNEL_TOOL_FROM_BIN from the folder of the programs, in a build folder libexec/ within it.
/// Returns only when neither can be started, with the exit status.
int HandOverToTool(char* argv[])
{
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        // Never a path relative to the working folder, which could start any program found there.
        std::fprintf(stderr, "varnel-cli: cannot find where it is installed (%s)\n", std::strerror(errno));
        return 1;
    }
    std::string folder(self, static_cast<std::size_t>(length));
    folder.erase(folder.find_last_of('/') + 1);
    int error = ENOENT;
    for (const char* place : {VARNEL_TOOL_FROM_BIN, "libexec/varnel-cli"}) {
        const std::string tool = folder + place;
        execv(tool.c_str(), argv);
        if (errno != ENOENT)
            error = errno;
    }
    std::fprintf(stderr, "varnel-cli: cannot start %s%s: %s; reinstall Varnel\n", folder.c_str(), VARNEL_TOOL_FROM_BIN,
                 std::strerror(error));
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    const CliProgram launcher{kRunners, MakeApplication};
    const char* name = CliCommandName(argc, argv);
    if (name != nullptr && FindCliCommand(name) != nullptr && FindCliRunner(launcher, name) == nullptr)
        return HandOverToTool(argv);
    return RunCli(argc, argv, launcher);
}
