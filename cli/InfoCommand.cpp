// varnel-cli info: what a workspace or projection file holds.

#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "formats/FileKinds.h"
#include "formats/ProjectionFile.h"
#include "formats/WorkspaceFile.h"
#include "formats/WorkspaceSideFile.h"
#include "platform/DisplayText.h"
#include "platform/FileIO.h"

#include <cstdio>

namespace {

void WriteGeo(JsonWriter& json, const char* name, const CDataGeo& geo)
{
    json.Key(name).BeginObject().Key("latitude").Value(geo.m_dLatitude).Key("longitude").Value(geo.m_dLongitude).EndObject();
}

/// The workspace's values as stored in the file, with the choice its side file keeps when that is
/// not the default and the reference maps when there are any; the TIFF images are not decoded
/// again.
void WriteWorkspace(JsonWriter& json, const WorkspaceContents& contents, const WorkspaceSideFile& side)
{
    json.BeginObject()
        .Key("kind").Value("workspace")
        .Key("geocoded").Value(contents.m_nGeoCoded)
        .Key("map_type").Value(contents.m_nMapType)
        .Key("width").Value(contents.m_nImageWidth)
        .Key("height").Value(contents.m_nImageHeight)
        .Key("coefficients");
    WriteCoefficients(json, contents.m_dGeoCoef);
    json.Key("picture_bytes");
    if (contents.m_PictureBytes)
        json.Value(static_cast<long long>(contents.m_PictureBytes->size()));
    else
        json.Null();
    json.Key("tiff");
    if (contents.m_Tiff) {
        const WorkspaceTiffPart& tiff = *contents.m_Tiff;
        json.BeginObject()
            .Key("geotiff_frame").Value(static_cast<int>(tiff.m_nGeoTiffFrame))
            .Key("selected_image").Value(tiff.m_nSelectedImage);
        WriteGeo(json, "geo_origin", tiff.m_GeoOrigin);
        WriteGeo(json, "geo_extent", tiff.m_GeoExtent);
        WriteGeo(json, "frame_origin", tiff.m_FrameOrigin);
        WriteGeo(json, "frame_extent", tiff.m_FrameExtent);
        json.Key("window").BeginObject()
            .Key("left").Value(tiff.m_dWinLeft)
            .Key("right").Value(tiff.m_dWinRight)
            .Key("bottom").Value(tiff.m_dWinBottom)
            .Key("top").Value(tiff.m_dWinTop)
            .EndObject();
        json.Key("image_count").Value(tiff.m_nImageCount).Key("path").Value(tiff.MapPath()).EndObject();
    } else {
        json.Null();
    }
    json.Key("points");
    WritePoints(json, contents.m_ControlPoints);
    if (!side.m_Choice.IsDefault())
        WriteChoice(json, side.m_Choice);
    if (!side.m_References.isEmpty()) {
        json.Key("references").BeginArray();
        for (const QString& reference : side.m_References)
            json.Value(reference);
        json.EndArray();
    }
    json.EndObject();
}

} // namespace

// varnel-cli info FILE
// A workspace (.pws) is reported as stored; a projection file (.gpf, .dpf, .cpf) as unpack
// reports it. The kind is told by the file's extension, in any case.
int RunInfoCommand(const QStringList& args)
{
    int status = 0;
    const std::optional<QString> file = SingleFileArgument("info", args, status);
    if (!file)
        return status;
    const QString path = *file;
    const std::optional<FileKind> kind = FileKindFromExtension(path);
    if (const std::optional<ProjectionKind> projection = kind ? ProjectionKindOf(*kind) : std::nullopt)
        return UnpackProjectionFile("info", path, *projection, QString());
    if (kind != FileKind::Workspace)
        return CliFail("info", QStringLiteral("%1: not a work space (.pws) or projection file (.gpf, .dpf, .cpf)")
                                   .arg(DisplayText(path)));

    QByteArray bytes;
    QString error;
    if (!ReadWholeFile(path, bytes, &error))
        return CliFail("info", error);
    const Parsed<WorkspaceContents> contents = ParseWorkspace(bytes);
    if (!contents)
        return CliFail("info", QStringLiteral("%1: %2").arg(DisplayText(path), contents.Why()));
    const Parsed<WorkspaceSideFile> side = ReadWorkspaceSideFile(path);
    if (!side)
        return CliFail("info", QStringLiteral("%1: %2").arg(DisplayText(WorkspaceSideFilePath(path)), side.Why()));
    JsonWriter json;
    WriteWorkspace(json, *contents, *side);
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
