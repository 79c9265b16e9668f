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
#include <functional>
#include <optional>
#include <vector>

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

/// The map's pixels as a 24-bit section, as rectifying reads them: a TIFF map's current image
/// (pointed at, not copied), or a picture drawn at its size into drawn. Null when the map has
/// none; throws std::bad_alloc when a picture's pixels do not fit in memory.
const DIBSection* MapSection(const CQuilletDoc& doc, DIBSection& drawn);

/// One file of an export: made in memory before anything is written, or, for a file too large
/// for that (a GeoTIFF), written by m_Write into the new file (open for reading and writing) as
/// it is made, returning 0 or the errno of its failure. m_Write reads the map's pixels where the
/// document holds them: the document stays as it is until the file is written.
struct ExportedFile {
    QString m_strPath;
    QByteArray m_Bytes;
    std::function<int(int fd, const Progress& progress)> m_Write;
};

/// Makes the files of the export of kind to path in memory (a GeoTIFF's writer only), writing
/// nothing: the whole map, or only range when one is given. A map geo-coded by its own GeoTIFF
/// keys keeps their georeference; one geo-coded from control points is written in WGS 84
/// latitude and longitude.
/// A world file describes the picture it stands beside, the whole of it, whatever the range;
/// its .prj comes second (path with the extension .prj). Refused: a map that is not geo-coded,
/// a range too small, a map without a picture (GeoTIFF). Leaves the document alone, so that it
/// may run while the window goes on painting. The report, when given, is filled when done.
CommandResult MakeExport(const CQuilletDoc& doc, const std::optional<OutputRange>& range, ExportKind kind,
                         const QString& path, std::vector<ExportedFile>& files, ExportReport* report = nullptr,
                         const Progress& progress = {});
/// Writes the files in order, each whole through a temporary file; a file that cannot be written
/// is refused with the user's message, one whose writer ran out of memory with the memory
/// message. Cancelled through progress, stops.
CommandResult WriteExport(const std::vector<ExportedFile>& files, const Progress& progress = {});
/// MakeExport, then WriteExport: a refusal writes nothing and keeps any earlier file.
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
