#pragma once
// The body of varnel-cli, shared by the two programs the launcher (launcher.cpp) starts: the one
// that reads projection files (unpack_main.cpp) and the tool, which runs every command
// (main.cpp). Reading a projection file is the one command whose run is short beside the time it
// takes to load GDAL, PROJ and Qt's drawing, which only the tool links.

#include <QCoreApplication>
#include <QStringList>

#include <memory>
#include <span>

/// A subcommand as one of the programs runs it.
struct CliRunner {
    const char* m_Name;
    int (*m_Run)(const QStringList&);
};

/// What one of the two programs brings to the shared body.
struct CliProgram {
    std::span<const CliRunner> m_Runners; ///< the commands it runs itself
    /// The application object its commands need.
    std::unique_ptr<QCoreApplication> (*m_MakeApplication)(int& argc, char* argv[]);
};

/// Runs varnel-cli's command line in program: its help, its version, or one of the commands it
/// runs itself. Returns the process exit status.
int RunCli(int argc, char* argv[], const CliProgram& program);
