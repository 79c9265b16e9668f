#pragma once
// A geo-coding that travels: the map as a GeoTIFF, a world file and .prj for the map's own
// picture, and the control points as QGIS .points or CSV files; and control points read back
// from such files onto the current map.

#include "commands/CommandResult.h"
#include "commands/OutputCommand.h"
#include "geo/MapCrs.h"
#include "platform/Progress.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

class CQuilletDoc;
class ViewState;

enum class ExportKind { GeoTiff, WorldFile, QgisPoints, PointsCsv };

/// The kind chosen under entry (counted from 1) of the export dialog's filter.
std::optional<ExportKind> ExportKindForEntry(int entry);
/// The kind a name such as "geotiff" stands for (varnel-cli export --format).
std::optional<ExportKind> ExportKindFromName(const QString& name);
/// ".tif", ".wld", ".points" or ".csv".
QString ExportExtension(ExportKind kind);

/// What an export wrote and how it is georeferenced.
struct ExportReport {
    QStringList m_Written;               ///< the files written, in order
    MapCrs m_Crs;                        ///< the coordinate system of the georeference
    std::array<double, 6> m_GeoTransform{}; ///< GDAL's convention, for the part exported
};

/// Writes the export of kind to path: the whole map, or only range when one is given. A map
/// geo-coded by its own GeoTIFF keys keeps their UTM (or degree) georeference; one geo-coded
/// from control points is written in WGS 84 latitude and longitude. A world file gets its .prj
/// beside it (path with the extension .prj). Refused, writing nothing and keeping any earlier
/// file: a map that is not geo-coded, a range too small, a map without a picture (GeoTIFF), a
/// file that cannot be written. Every file is written whole through a temporary file. Leaves
/// the document alone, so that it may run while the window goes on painting; cancelled through
/// progress, writes nothing.
CommandResult ExportGeoreferenced(const CQuilletDoc& doc, const std::optional<OutputRange>& range, ExportKind kind,
                                  const QString& path, ExportReport* report = nullptr, const Progress& progress = {});

/// File > Export Georeferenced...: asks for the kind and the file (beside the map's picture,
/// named after it), writes it and says what was written.
void OnExportGeoreferenced(CQuilletDoc& doc, const ViewState* view);

/// File > Import Control Points...: asks for a .points or CSV file, reads it whole and appends
/// its points to the map's as one undoable step, then fits once as after an edit. A file with
/// any line that cannot be read is refused with a message naming the line, and nothing is
/// added.
void OnImportControlPoints(CQuilletDoc& doc);
/// The reading behind it, without asking or showing: done with the number of points added.
CommandResult ImportControlPoints(CQuilletDoc& doc, const QString& path, int* added = nullptr);
