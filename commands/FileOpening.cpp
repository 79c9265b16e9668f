#include "commands/FileOpening.h"

#include "commands/FileCommands.h"
#include "platform/UiServices.h"

namespace {

/// New's "All Files" entry, after "Picture Files" and the nine map kinds.
constexpr int kNewAllFilesEntry = 11;

/// A map of kind mapType; no map kind is refused.
FileOpening MapOpening(std::optional<MapKind> mapType)
{
    if (mapType && IsPictureMapType(*mapType))
        return {OpenReader::PictureMap, ProjectionKind::Dpf, *mapType};
    if (mapType && IsTiffMapType(*mapType))
        return {OpenReader::TiffMap, ProjectionKind::Dpf, *mapType};
    return {};
}

/// A file of a known kind: workspaces and projection files have their readers, a map kind loads
/// as mapType (which a name's last characters may have chosen).
FileOpening KindOpening(std::optional<FileKind> kind, std::optional<MapKind> mapType)
{
    if (kind == FileKind::Workspace)
        return {OpenReader::Workspace, ProjectionKind::Dpf, MapKind::None};
    if (const std::optional<ProjectionKind> projection = kind ? ProjectionKindOf(*kind) : std::nullopt)
        return {OpenReader::Projection, *projection, MapKind::None};
    if (!kind || FileKindOf(*kind).m_MapKind == MapKind::None)
        return {};
    return MapOpening(mapType);
}

FileOpening ContentOpening(const QString& path)
{
    const std::optional<FileKind> kind = FileKindOfFile(path);
    return KindOpening(kind, kind ? std::optional(FileKindOf(*kind).m_MapKind) : std::nullopt);
}

} // namespace

FileOpening ChooseFileOpening(const QString& path, OpenedFrom from, int entry)
{
    switch (from) {
    case OpenedFrom::NewDialog:
        // The position of the chosen list entry is the kind of map; "All Files" names none.
        return entry == kNewAllFilesEntry ? ContentOpening(path) : MapOpening(MapTypeForNewEntry(entry, path));
    case OpenedFrom::OpenDialog:
        // The entry chosen, not the file's extension, decides how the file is read.
        if (const std::optional<FileKind> kind = OpenKindForEntry(entry))
            return KindOpening(kind, std::nullopt);
        if (!FileKindOfFile(path))
            return {OpenReader::Foreign, ProjectionKind::Dpf, MapKind::None};
        return ContentOpening(path);
    case OpenedFrom::Name:
        // The extension names the kind, a map's as if chosen under "Picture Files"; a file
        // without a known one is known by its content.
        if (const std::optional<FileKind> kind = FileKindFromExtension(path))
            return KindOpening(kind, MapTypeForNewEntry(kPictureFilesEntry, path));
        return ContentOpening(path);
    case OpenedFrom::Content:
        break;
    }
    return ContentOpening(path);
}

bool OpenChosenFile(CQuilletDoc& doc, ViewState* view, const QString& path, const FileOpening& opening)
{
    switch (opening.m_Reader) {
    case OpenReader::Workspace:
        return OpenWorkspaceFile(doc, view, path);
    case OpenReader::Projection:
        return OpenProjectionFile(doc, path, opening.m_Projection);
    case OpenReader::PictureMap:
    case OpenReader::TiffMap:
    case OpenReader::Refused:
        // A refused kind is reported by the map loader, as one it cannot load.
        return OpenMapFile(doc, path, opening.m_MapKind);
    case OpenReader::Foreign:
        break;
    }
    Ui().MessageBox(QStringLiteral("Invalid File. Maybe for another application."), QStringLiteral("Invalid File."),
                    MB_OK | MB_ICONSTOP);
    return false;
}
