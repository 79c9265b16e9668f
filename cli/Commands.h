#pragma once
// The subcommands of varnel-cli. Each prints one JSON object on standard output and returns the
// process exit status: 0 on success, 1 with a message on standard error when it cannot answer.

#include "formats/FileKinds.h"

#include <QStringList>

int RunExportCommand(const QStringList& args);
int RunFitCommand(const QStringList& args);
int RunGeoTiffCommand(const QStringList& args);
int RunImportPointsCommand(const QStringList& args);
int RunInfoCommand(const QStringList& args);
int RunLocateCommand(const QStringList& args);
int RunOutputCommand(const QStringList& args);
int RunPackCommand(const QStringList& args);
int RunPictureCommand(const QStringList& args);
int RunRecoveryCommand(const QStringList& args);
int RunUnpackCommand(const QStringList& args);

/// What unpack reports about the projection file at path read as kind: one JSON object on
/// standard output (and the payload written to payloadPath unless it is empty). Shared with
/// info; command names the subcommand in messages. Returns the exit status.
int UnpackProjectionFile(const char* command, const QString& path, ProjectionKind kind, const QString& payloadPath);
