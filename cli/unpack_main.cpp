// The program that reads projection files: varnel-cli unpack, and the help and version. It links
// only what that needs, so that it starts in a few milliseconds; the launcher starts the tool for
// every other command.

#include "CliMain.h"
#include "Commands.h"

#include <QCoreApplication>

namespace {

const CliRunner kRunners[] = {
    {"unpack", RunUnpackCommand},
};

std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char* argv[])
{
    // Reading a projection file draws nothing: no platform plugin, no fonts.
    return std::make_unique<QCoreApplication>(argc, argv);
}

} // namespace

int main(int argc, char* argv[])
{
    return RunCli(argc, argv, CliProgram{kRunners, MakeApplication});
}
