#pragma once
// The subcommands of varnel-cli. Each prints one JSON object on standard output and returns the
// process exit status: 0 on success, 1 with a message on standard error when it cannot answer,
// kCliUsageStatus (2) with one when its command line is wrong.

#include "formats/FileKinds.h"

#include <QStringList>

#include <span>
#include <string_view>

int RunExportCommand(const QStringList& args);
int RunFitCommand(const QStringList& args);
int RunGeocodeCommand(const QStringList& args);
int RunGeoTiffCommand(const QStringList& args);
int RunImportPointsCommand(const QStringList& args);
int RunInfoCommand(const QStringList& args);
int RunLocateCommand(const QStringList& args);
int RunOutputCommand(const QStringList& args);
int RunPackCommand(const QStringList& args);
int RunPictureCommand(const QStringList& args);
int RunRecoveryCommand(const QStringList& args);
int RunOverlayCommand(const QStringList& args);
int RunRectifyCommand(const QStringList& args);
int RunUnpackCommand(const QStringList& args);

/// A subcommand: its name and how it is used. The table of them in CommandTable.cpp is the one
/// place a command's arguments are spelled out: the command list, a command's --help and its
/// usage message all come from it. What runs each is the program's own (CliMain.h).
struct CliCommand {
    const char* m_Name;
    const char* m_Synopsis; ///< the arguments after the command's name
    const char* m_Purpose;
    const char* m_Details = nullptr; ///< lines that follow the usage message of a wrong command line
};

/// An option of varnel-cli itself, as its help lists it.
struct CliOption {
    const char* m_Name;
    const char* m_Purpose;
};

/// The options of varnel-cli itself, in the order the help lists them.
std::span<const CliOption> CliOptions();

/// Every subcommand, by name.
std::span<const CliCommand> CliCommands();
/// The command of that name, or null.
const CliCommand* FindCliCommand(std::string_view name);
/// "usage: varnel-cli NAME SYNOPSIS" for the command called name.
QString CliUsage(const char* name);

/// What unpack reports about the projection file at path read as kind: one JSON object on
/// standard output (and the payload written to payloadPath unless it is empty). Shared with
/// info; command names the subcommand in messages. Returns the exit status.
int UnpackProjectionFile(const char* command, const QString& path, ProjectionKind kind, const QString& payloadPath);
