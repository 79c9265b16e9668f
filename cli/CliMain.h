#pragma once
// The body of varnel-cli, shared by the two programs the launcher (launcher.cpp) starts: the one
// that reads projection files (unpack_main.cpp) and the tool, which runs every command
// (main.cpp). Reading a projection file is the one command whose run is short beside the time it
// takes to load GDAL, PROJ and Qt's drawing, which only the tool links.

#include "CliCommandName.h"

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
    /// The application object the command called name (null for none) needs.
    std::unique_ptr<QCoreApplication> (*m_MakeApplication)(int& argc, char* argv[], const char* name);
};

/// The runner of the command called name in program, or null.
const CliRunner* FindCliRunner(const CliProgram& program, const char* name);

/// Runs varnel-cli's command line in program: its help, its version, or one of the commands it
/// runs itself. Returns the process exit status.
int RunCli(int argc, char* argv[], const CliProgram& program);
