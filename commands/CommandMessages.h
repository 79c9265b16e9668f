#pragma once
// The texts more than one command tells the user, each written here once.

#include "formats/FormatMessages.h"
#include "platform/DisplayText.h"
#include "platform/UiMessage.h"

#include <QFileInfo>
#include <QString>

/// The refusal of a command that needs the map geo-coded while it is not.
inline UiMessage NeedMorePointsMessage()
{
    return {QStringLiteral("Invalid projection. Need more points."), InvalidProjectionCaption(),
            MB_OKCANCEL | MB_ICONINFORMATION};
}

/// The start of the message of a file a command could not create or open (the system's reason follows).
inline QString CannotOpenFileText()
{
    return QStringLiteral("The file can not be opened.");
}

/// The refusal of a command that writes the map's picture while the map holds none.
inline QString NoPictureToWriteText()
{
    return QStringLiteral("The map holds no picture that could be written.");
}

/// The caption of the messages about typed coordinates.
inline QString InvalidCoordinatesCaption()
{
    return QStringLiteral("Invalid Coordinates");
}

/// The name of work not yet saved in a file.
inline QString UntitledName()
{
    return QStringLiteral("Untitled");
}

/// The titles of the progress of writing and of opening the file at path.
inline QString WritingTitle(const QString& path)
{
    return QStringLiteral("Writing %1").arg(DisplayText(QFileInfo(path).fileName()));
}
inline QString OpeningTitle(const QString& path)
{
    return QStringLiteral("Opening %1").arg(DisplayText(QFileInfo(path).fileName()));
}
