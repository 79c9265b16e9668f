#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "imaging/CPicture.h"

#include <cstdio>

// varnel-cli picture FILE: loads FILE as the picture service does and reports what it recorded.
int RunPictureCommand(const QStringList& args)
{
    const CliArguments cli(args, {});
    if (!cli.Ok())
        return CliUsageFail("picture", cli.m_strError);
    if (cli.m_Positional.size() != 1)
        return CliUsageFail("picture", CliUsage("picture"));
    CPicture picture;
    const bool loaded = picture.LoadFromFile(cli.m_Positional.constFirst());
    if (picture.LastError()) {
        // The file could not be read at all: that is an error, not an answer.
        PrintMessages({*picture.LastError()}, MessageStyle::TextOnly);
        return 1;
    }
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
