#pragma once
// Import of TIFF maps: listing the usable directories of a file, decoding one directory into a
// 24-bit section, and reading the GeoTIFF georeference (citation, tie point, pixel scale).
// libtiff's and libgeotiff's messages are collected by TiffMessageScope; each function opens
// one, so a caller that wraps a whole import in its own scope gets one box of each kind.

#include "geo/GeoTiffInfo.h"
#include "platform/Progress.h"
#include "platform/UiMessage.h"
#include "formats/TIFFSubImage.h"
#include "imaging/DIBSection.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <vector>


/// Appends a record for every directory of the TIFF file whose width and height are both
/// non-zero (directory index, size, bits per sample or 0, name "image<index>") and returns how
/// many it appended. A file that cannot be opened appends nothing and returns 0; a directory
/// libtiff cannot read is skipped. Only the first 512 directories are looked at (a warning says
/// so for a file with more), each read once.
int ScanTiffImages(std::vector<TIFFSubImage>& list, const QString& path);

/// Decodes directory index (0-based, counting every directory of the file) into section as a
/// 24-bit picture (see DecodeTiffDirectory for the pixels). True when the pixels were decoded
/// without error. When the file does not open (or is no regular file), the
/// directory does not exist or cannot be read, its width or height is 0, its strips or tiles
/// cannot hold the pixels it declares, or the machine has not the memory for them, the section
/// is left as it was and why is reported; when the pixels cannot all be decoded, the section is
/// left empty: nothing half-loaded is kept.
bool LoadTiffImage(const QString& path, DIBSection& section, int index, const Progress& progress = {});

/// One decoded image of a TIFF map, the directory it came from and its georeference.
struct ImportedTiffImage {
    TIFFSubImage m_Directory;
    DIBSection m_Image;
    /// The georeference of the file's first directory with this image's size (every image of a
    /// map shares it); nothing when the file has no usable one.
    std::optional<GeoTiffInfo> m_Georeference;
};

/// A whole TIFF map as imported: its images and what libtiff and libgeotiff had to say.
struct TiffImport {
    std::vector<ImportedTiffImage> m_Images;
    UiMessages m_Messages; ///< at most one error box and one warning box for the whole import
    bool m_bCancelled = false; ///< the user stopped it: no images, no messages

    /// The georeference the map takes: image 0's; nothing without images or a usable one.
    std::optional<GeoTiffInfo> MapGeoreference() const;
    /// Moves the decoded images out, in order (directories and georeferences stay).
    std::vector<DIBSection> TakeImages();
};

/// The images of a TIFF map: every directory the scan lists, decoded, in file order; a listed
/// directory whose pixels cannot all be had is left out. At most limit images when limit is not
/// negative (a workspace reopens the images it saved). Before anything is decoded, directories
/// whose data cannot hold their pixels are left out and the memory of all the others is checked
/// at once: a map the machine cannot hold gives no images and the memory message. Reports to
/// progress by pixels decoded and stops when it is cancelled.
TiffImport ImportTiffImages(const QString& path, int limit = -1, const Progress& progress = {});

/// Reads the georeference of the file's first directory into info: zone, datum and hemisphere
/// from the citation (GTCitationGeoKey, else the GeoAsciiParamsTag text; see ApplyCitation),
/// the model X and Y of the first tie point (ModelTiepointTag values 3 and 4) and the pixel
/// scale across and down (ModelPixelScaleTag values 0 and 1); besides, the coordinate system
/// the keys define with the keys themselves, and the NoData value. Fields for which the file
/// says nothing keep their values, but for the system, its keys and NoData, which are set. Returns true when the file has a tie point (a ModelTiepointTag
/// holding at least one whole tie point of six values); a file without one has no usable
/// georeference even if its citation was read.
bool ReadGeoTiffInfo(const QString& path, GeoTiffInfo& info);

/// Splits a citation into tokens: maximal runs of bytes that are not separators. Separators are
/// the comma, the tab, the space and every byte that is below 32 as a signed 8-bit character
/// (control characters and all bytes from 0x80 up). No empty tokens; quotes mean nothing.
QList<QByteArray> TokenizeCitation(const QByteArray& text);

/// Applies the citation rules to info, walking the tokens in order (later tokens override
/// earlier ones, so the last zone found wins):
/// - "UTM" (any case) switches the UTM context on;
/// - in the UTM context an integer token (optional leading "-", then digits) is a zone: it sets
///   the zone and marks the datum as Clarke 1866 (1), unless the citation names its datum;
/// - in the UTM context "ZONE" takes the zone from the first two characters of the next token,
///   read as the C library's atoi does ("17N" gives 17, "5N" gives 5);
/// - a token beginning with "NAD27" names datum 1, one beginning with "WGS84" datum 0 (WGS84);
///   a named datum (the last one named) wins over the integer rule's implicit 1;
/// - the hemisphere is southern when the last zone's token ends in 'S' or 's' ("33S", also
///   "33S|" as GeoASCII text ends its entries), or the citation says "Southern Hemisphere"
///   (two tokens, any case); otherwise northern.
/// m_nUtmZone, m_bHasZone, m_nDatum and m_bSouth change only when the citation says something
/// about them.
void ApplyCitation(const QByteArray& citation, GeoTiffInfo& info);
