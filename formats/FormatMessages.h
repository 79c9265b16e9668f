#pragma once
// The texts of the messages that refuse a file, shared by the readers that find the fault and the
// commands that meet it first: each text is written here once.

#include <QString>

/// The caption of every message that refuses a file: one that cannot be opened, read or written.
inline QString InvalidFileCaption()
{
    return QStringLiteral("Invalid File");
}

/// The caption of the messages about the geo-coding a file carries or a command needs.
inline QString InvalidProjectionCaption()
{
    return QStringLiteral("Invalid Projection");
}
