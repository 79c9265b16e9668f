#include "CliSupport.h"
#include "Commands.h"
#include "Json.h"

#include "document/CQuilletDoc.h"
#include "formats/TiffImport.h"
#include "formats/TiffMessageScope.h"
#include "imaging/DIBSection.h"
#include "platform/DisplayText.h"

#include <cstdio>
#include <vector>

namespace {

void WriteGeoreference(JsonWriter& json, const std::optional<GeoTiffInfo>& georeference)
{
    if (!georeference) {
        json.Null();
        return;
    }
    const GeoTiffInfo& info = *georeference;
    json.BeginObject()
        .Key("tie_x").Value(info.m_dTieX)
        .Key("tie_y").Value(info.m_dTieY)
        .Key("scale_x").Value(info.m_dScaleX)
        .Key("scale_y").Value(info.m_dScaleY)
        .Key("zone").Value(info.m_nUtmZone)
        .Key("has_zone").Value(int(info.m_bHasZone))
        .Key("datum").Value(info.m_nDatum)
        .Key("south").Value(int(info.m_bSouth));
    if (info.m_ModelTransformation) {
        // A turned map: the tie and scale above are only its origin and pixel sizes.
        json.Key("geotransform").BeginArray();
        for (const double value : *info.m_ModelTransformation)
            json.Value(value);
        json.EndArray();
    }
    json.EndObject();
}

} // namespace

// varnel-cli geotiff FILE: imports FILE as a TIFF map is imported (scan, then one load per listed
// entry, keeping the sections that have pixels) and reports each kept image and its georeference.
int RunGeoTiffCommand(const QStringList& args)
{
    int status = 0;
    const std::optional<QString> file = SingleFileArgument("geotiff", args, status);
    if (!file)
        return status;
    const QString path = *file;

    UiMessages messages;
    std::vector<TIFFSubImage> list;
    {
        TiffMessageScope scan;
        const int count = ScanTiffImages(list, path);
        messages = scan.Messages();
        if (count == 0 && !messages.empty()) {
            // libtiff could not open the file: that is an error, not an answer.
            PrintMessages(messages, MessageStyle::WithCaption);
            return 1;
        }
    }

    // The map as the New command leaves it: image 0 current, framed by its georeference.
    TiffImport import = ImportTiffImages(path, -1, CliProgress());
    messages.insert(messages.end(), import.m_Messages.begin(), import.m_Messages.end());
    if (import.m_Images.empty()) {
        // No image is no answer: as New does, the messages say why, or this line when there are none.
        PrintMessages(messages, MessageStyle::WithCaption);
        return messages.empty()
                   ? CliFail("geotiff", NoReadableImageText(path))
                   : 1;
    }
    CQuilletDoc doc;
    doc.InstallTiffMap(path, MapKind::Tif, import.TakeImages(), import.MapGeoreference());

    JsonWriter json;
    json.BeginObject().Key("images").BeginArray();
    for (std::size_t i = 0; i < import.m_Images.size(); ++i) {
        // The images the New command keeps, in the same order.
        const DIBSection& section = doc.Images()[i];
        const TIFFSubImage& entry = import.m_Images[i].m_Directory;
        json.BeginObject()
            .Key("directory").Value(entry.m_nDirectory)
            .Key("width").Value(section.m_nWidth)
            .Key("height").Value(section.m_nHeight)
            .Key("bits_per_sample").Value(entry.m_nBitsPerSample)
            .Key("georeference");
        WriteGeoreference(json, import.m_Images[i].m_Georeference);
        json.EndObject();
    }
    json.EndArray();
    if (!doc.Images().empty()) {
        // Image 0's frame: the document's map origin and extent.
        json.Key("frame").BeginObject().Key("geotiff_frame").Value(doc.HasGeoTiffFrame())
            .Key("geocoded").Value(doc.IsGeoCoded())
            .Key("origin").BeginObject()
            .Key("latitude").Value(doc.GeoOrigin().m_dLatitude)
            .Key("longitude").Value(doc.GeoOrigin().m_dLongitude)
            .EndObject()
            .Key("extent").BeginObject()
            .Key("latitude").Value(doc.GeoExtent().m_dLatitude)
            .Key("longitude").Value(doc.GeoExtent().m_dLongitude)
            .EndObject()
            .EndObject();
    }
    json.EndObject();
    PrintMessages(messages, MessageStyle::WithCaption);
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
