#pragma once
// Every kind of file Varnel reads or writes, in one table: its name in file dialogs, its
// extensions, the map kind it loads as and the projection flavour it is written as. Every
// dialog filter, every extension test and every dispatch on a file's kind is derived from here,
// so a new format is one more row.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

enum class FileKind {
    Workspace, ///< .pws
    Gpf,
    Dpf,
    Cpf,
    Bmp,
    Dib,
    Emf,
    Gif,
    Ico,
    Jpg,
    Wmf,
    Tif,
    Tiff,
};

/// The projection-file flavours, numbered as the output dialog lists them.
enum class OutputFlavour { Gpf = 1, Dpf = 2, Cpf = 3 };

/// Map kinds: the positions of the New dialog's entries, which is also how a workspace stores
/// them. AnyPicture is a picture known by its extension or not at all; Bmp to Wmf are the
/// picture kinds, Tif and Tiff the TIFF maps. A stored value outside these names no map and is
/// kept as it was read.
enum class MapKind : std::int32_t {
    None = 0,
    AnyPicture = 1,
    Bmp = 2,
    Dib = 3,
    Emf = 4,
    Gif = 5,
    Ico = 6,
    Jpg = 7,
    Wmf = 8,
    Tif = 9,
    Tiff = 10,
};

/// How a projection file is read: a GPF reads like a DPF.
enum class ProjectionKind { Dpf, Cpf };

struct FileKindInfo {
    FileKind m_Kind;
    const char* m_strName;      ///< the dialogs' name of the kind: "BMP", "GPF", ...
    QStringList m_Extensions;   ///< lower case, without the dot; the first is the one written
    MapKind m_MapKind = MapKind::None;            ///< the map kind New loads it as
    std::optional<OutputFlavour> m_OutputFlavour; ///< the output flavour it is written as
};

/// The table, maps in the order of the New dialog's list.
const std::vector<FileKindInfo>& FileKinds();
const FileKindInfo& FileKindOf(FileKind kind);

/// The kind a path's extension names (any case); nothing for an extension Varnel does not know.
std::optional<FileKind> FileKindFromExtension(const QString& path);
/// The kind a file's first bytes show: the workspace and projection-file tags, the TIFF and
/// picture signatures; nothing when they show none.
std::optional<FileKind> FileKindFromContent(const QByteArray& head);
/// The kind of the file at path by its content, then by its extension ("All Files" in a dialog).
std::optional<FileKind> FileKindOfFile(const QString& path);

// --- map kinds ---------------------------------------------------------------------------------
/// The New dialog's "Picture Files" entry.
constexpr int kPictureFilesEntry = static_cast<int>(MapKind::AnyPicture);
constexpr bool IsPictureMapType(MapKind kind) { return kind >= MapKind::AnyPicture && kind <= MapKind::Wmf; }
constexpr bool IsTiffMapType(MapKind kind) { return kind == MapKind::Tif || kind == MapKind::Tiff; }

/// The New dialog's filter: "Picture Files (...)", one entry per map kind, "All Files".
QString NewMapFilter();
/// The map kind of a path by the last three characters of its name, which is how ".tiff" is
/// known ("IFF"); nothing when they name no map kind.
std::optional<MapKind> MapTypeFromExtension(const QString& path);
/// The map kind a file chosen under New dialog entry `entry` loads as: the entry's own, or for
/// "Picture Files" the kind its extension names (AnyPicture when none); nothing for an entry
/// that names no map kind ("All Files").
std::optional<MapKind> MapTypeForNewEntry(int entry, const QString& path);

// --- workspaces and projection files ------------------------------------------------------------
/// The Open dialog's filter: workspace, CPF, DPF, GPF, All Files.
QString OpenFilter();
/// What Open reads a file chosen under entry `entry` as: nothing for "All Files".
std::optional<FileKind> OpenKindForEntry(int entry);
/// The Save Work Space dialog's filter.
QString WorkspaceSaveFilter();
/// The Output A Geo-Map dialog's filter: GPF, DPF, CPF, in flavour order.
QString OutputFilter();
/// The flavour a name such as "gpf" (any case) stands for.
std::optional<OutputFlavour> OutputFlavourFromName(const QString& name);
/// The flavour of the Output A Geo-Map dialog's entry `entry` (1-based); nothing for another.
std::optional<OutputFlavour> OutputFlavourForEntry(int entry);
/// ".gpf", ".dpf" or ".cpf".
QString OutputExtension(OutputFlavour flavour);
/// "GPF", "DPF" or "CPF".
QString OutputName(OutputFlavour flavour);
/// How a projection file of this kind is read; nothing for a kind that is not a projection file.
std::optional<ProjectionKind> ProjectionKindOf(FileKind kind);
/// The Save As Bitmap dialog's filter.
QString BitmapSaveFilter();

// --- georeferenced exports and control points -------------------------------------------------
/// The Export Georeferenced dialog's filter: GeoTIFF, world file, QGIS points, CSV, in the
/// order of ExportKind. The world file's entry shows worldExtension (".jgw"), the one the map's
/// picture takes, so that a dialog switching to it names the file as it will be written.
QString ExportFilter(const QString& worldExtension);
/// The Import Control Points dialog's filter: both point files, then All Files.
QString ImportPointsFilter();
