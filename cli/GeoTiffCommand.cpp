#include "Commands.h"
#include "HeadlessHost.h"
#include "Json.h"

#include "document/CQuilletDoc.h"
#include "document/TiffImport.h"
#include "view/core/ViewState.h"
#include "imaging/DIBSection.h"
#include "platform/ScriptedUiServices.h"

#include <cstdio>
#include <vector>

namespace {

/// The message boxes the import would have shown, one per line on standard error.
void PrintMessages(const ScriptedUiServices& ui)
{
    for (const auto& message : ui.m_Messages)
        std::fprintf(stderr, "%s: %s\n", qPrintable(message.m_strCaption), qPrintable(message.m_strText.trimmed()));
}

void WriteGeoreference(JsonWriter& json, const DIBSection& section)
{
    if (!section.m_bHasGeoTiffInfo || !section.m_pGeoTiffInfo) {
        json.Null();
        return;
    }
    const GeoTiffInfo& info = *section.m_pGeoTiffInfo;
    json.BeginObject()
        .Key("tie_x").Value(info.m_dTieX)
        .Key("tie_y").Value(info.m_dTieY)
        .Key("scale_x").Value(info.m_dScaleX)
        .Key("scale_y").Value(info.m_dScaleY)
        .Key("zone").Value(info.m_nUtmZone)
        .Key("has_zone").Value(int(info.m_bHasZone))
        .Key("datum").Value(info.m_nDatum)
        .Key("south").Value(int(info.m_bSouth))
        .EndObject();
}

} // namespace

// varnel-cli geotiff FILE: imports FILE as a TIFF map is imported (scan, then one load per listed
// entry, keeping the sections that have pixels) and reports each kept image and its georeference.
int RunGeoTiffCommand(const QStringList& args)
{
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: varnel-cli geotiff FILE\n");
        return 1;
    }
    const QString path = args.constFirst();
    ScriptedUiServices ui;
    ScopedUiServices installed(ui);

    std::vector<TIFFSubImage> list;
    const int count = ScanTiffImages(list, path);
    if (count == 0 && !ui.m_Messages.empty()) {
        // libtiff could not open the file: that is an error, not an answer.
        PrintMessages(ui);
        return 1;
    }

    // The map as the New command leaves it, and as the view's update then frames it.
    CQuilletDoc doc;
    doc.m_nMapType = 9;
    doc.m_bMapLoaded = 1;
    std::vector<ImportedTiffImage> images = ImportTiffImages(path);
    for (const ImportedTiffImage& imported : images)
        doc.m_Images.push_back(imported.m_Image);
    ViewState view;
    HeadlessHost host;
    view.OnUpdate(doc, host, 0);

    JsonWriter json;
    json.BeginObject().Key("images").BeginArray();
    for (const ImportedTiffImage& imported : images) {
        // The images the New command keeps, in the same order.
        const DIBSection& section = imported.m_Image;
        const TIFFSubImage& entry = imported.m_Directory;
        json.BeginObject()
            .Key("directory").Value(entry.m_nDirectory)
            .Key("width").Value(section.m_nWidth)
            .Key("height").Value(section.m_nHeight)
            .Key("bits_per_sample").Value(entry.m_nBitsPerSample)
            .Key("georeference");
        WriteGeoreference(json, section);
        json.EndObject();
    }
    json.EndArray();
    if (!doc.m_Images.empty()) {
        // Image 0's frame: the document's map origin and extent after the view's update.
        json.Key("frame").BeginObject().Key("geotiff_frame").Value(view.m_bGeoTiffFrame)
            .Key("geocoded").Value(doc.m_bGeoCoded != 0)
            .Key("origin").BeginObject()
            .Key("latitude").Value(doc.m_GeoOrigin.m_dLatitude)
            .Key("longitude").Value(doc.m_GeoOrigin.m_dLongitude)
            .EndObject()
            .Key("extent").BeginObject()
            .Key("latitude").Value(doc.m_GeoExtent.m_dLatitude)
            .Key("longitude").Value(doc.m_GeoExtent.m_dLongitude)
            .EndObject()
            .EndObject();
    }
    json.EndObject();
    PrintMessages(ui);
    std::printf("%s\n", json.Text().c_str());
    return 0;
}
