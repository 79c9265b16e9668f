#pragma once
// File > Export Rectified...: the geo-coded map resampled into a north-up GeoTIFF in a coordinate
// system of the user's choice, through the map's own geo-coding, for any GIS to overlay.

#include "commands/CommandResult.h"
#include "formats/Rectify.h"
#include "platform/DialogData.h"
#include "platform/Progress.h"

#include <QString>

#include <optional>

class CQuilletDoc;

/// The coordinate system a rectified map is written in unless another is asked for: the one the
/// map's geo-coding is fitted in, or WGS 84 latitude and longitude (EPSG:4326) for a map geo-coded
/// in latitude and longitude. Empty when the map is not geo-coded.
QString DefaultRectifiedCrs(const CQuilletDoc& doc);

/// The options the dialog's fields give: the resolution as "XRES,YRES" (one number for both), the
/// extent as "XMIN,YMIN,XMAX,YMAX", both in target units and empty for the map's own, and the
/// mask read from its file. Refused with a message for a coordinate system PROJ does not know,
/// text that is not such numbers or a mask file that cannot be read.
std::optional<RectifyOptions> RectifyOptionsOf(const RectifyEntry& entry, UiMessage& refusal);

/// Writes the map rectified to path with the options (see RectifyMap): the picture, or a TIFF
/// map's current image, through the map's geo-coding, whatever made it. Refused for a map that
/// is not geo-coded and for everything RectifyMap refuses; cancelled through progress, it leaves
/// no file. The grid written, when given, is filled when done. Leaves the document alone, so that
/// it may run while the window goes on painting.
CommandResult WriteRectifiedMap(const CQuilletDoc& doc, const RectifyOptions& options, const QString& path,
                              RectifiedGrid* grid = nullptr, const Progress& progress = {});

/// File > Export Rectified...: asks for the target system, resampling, resolution, extent and mask,
/// then for the file (a .tif beside the map), writes it with progress and Cancel and says in the
/// status bar what was written.
void OnExportRectified(CQuilletDoc& doc);
