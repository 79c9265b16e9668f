#pragma once
// The subcommands of varnel-cli. Each prints one JSON object on standard output and returns the
// process exit status: 0 on success, 1 with a message on standard error when it cannot answer.

#include <QStringList>

int RunFitCommand(const QStringList& args);
int RunGeoTiffCommand(const QStringList& args);
int RunPackCommand(const QStringList& args);
int RunPictureCommand(const QStringList& args);
int RunUnpackCommand(const QStringList& args);
