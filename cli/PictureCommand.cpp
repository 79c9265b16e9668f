#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "imaging/CPicture.h"
#include "platform/DisplayText.h"

#include <cstdio>

// varnel-cli picture FILE: loads FILE as the picture service does and reports what it recorded.
int RunPictureCommand(const QStringList& args)
{
    int status = 0;
    const std::optional<QString> file = SingleFileArgument("picture", args, status);
    if (!file)
        return status;
    CPicture picture;
    const bool loaded = picture.LoadFromFile(*file);
    if (picture.LastError()) {
        // The file could not be read at all: that is an error, not an answer.
        PrintMessages({*picture.LastError()}, MessageStyle::TextOnly);
        return 1;
    }
    // No picture is no answer either: New refuses the file in the same words.
    if (!loaded)
        return CliFail("picture", QStringLiteral("%1 could not be loaded: it is not a picture Varnel can read.")
                                      .arg(DisplayText(*file)));
    JsonWriter json;
    json.BeginObject()
        .Key("loaded").Value(loaded)
        .Key("width").Value(picture.m_nWidth)
        .Key("height").Value(picture.m_nHeight)
        .Key("byte_size").Value(picture.m_nByteSize)
        .EndObject();
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
