#include "formats/FileKinds.h"

#include "formats/ProjectionFile.h"
#include "formats/WorkspaceFile.h"
#include "imaging/PictureService.h"
#include "platform/BinaryIO.h"
#include "platform/FileIO.h"

#include <QFileInfo>

#include <algorithm>
#include <iterator>

namespace {

QString Entry(const QString& description, const QStringList& extensions)
{
    QStringList patterns;
    for (const QString& extension : extensions)
        patterns << QStringLiteral("*.") + extension;
    return description + QLatin1Char('|') + patterns.join(QLatin1Char(';')) + QLatin1Char('|');
}

/// "NAME (*.ext)|*.ext|" for the kind's first extension.
QString NamedEntry(FileKind kind)
{
    const FileKindInfo& info = FileKindOf(kind);
    const QString extension = info.m_Extensions.constFirst();
    return Entry(QStringLiteral("%1 (*.%2)").arg(QLatin1String(info.m_strName), extension), {extension});
}

const QString kAllFiles = QStringLiteral("All Files (*.*)|*.*||");
const QString kWorkspaceEntry = QStringLiteral("Projection Work Space (pws)|*.pws|");

} // namespace

const std::vector<FileKindInfo>& FileKinds()
{
    static const std::vector<FileKindInfo> kinds = {
        {FileKind::Bmp, "BMP", {QStringLiteral("bmp")}, MapKind::Bmp, std::nullopt},
        {FileKind::Dib, "DIB", {QStringLiteral("dib")}, MapKind::Dib, std::nullopt},
        {FileKind::Emf, "EMF", {QStringLiteral("emf")}, MapKind::Emf, std::nullopt},
        {FileKind::Gif, "GIF", {QStringLiteral("gif")}, MapKind::Gif, std::nullopt},
        {FileKind::Ico, "ICO", {QStringLiteral("ico")}, MapKind::Ico, std::nullopt},
        {FileKind::Jpg, "JPG", {QStringLiteral("jpg"), QStringLiteral("jpeg")}, MapKind::Jpg, std::nullopt},
        {FileKind::Wmf, "WMF", {QStringLiteral("wmf")}, MapKind::Wmf, std::nullopt},
        {FileKind::Tif, "TIF", {QStringLiteral("tif")}, MapKind::Tif, std::nullopt},
        {FileKind::Tiff, "TIFF", {QStringLiteral("tiff")}, MapKind::Tiff, std::nullopt},
        {FileKind::Workspace, "pws", {QStringLiteral("pws")}, MapKind::None, std::nullopt},
        {FileKind::Gpf, "GPF", {QStringLiteral("gpf")}, MapKind::None, OutputFlavour::Gpf},
        {FileKind::Dpf, "DPF", {QStringLiteral("dpf")}, MapKind::None, OutputFlavour::Dpf},
        {FileKind::Cpf, "CPF", {QStringLiteral("cpf")}, MapKind::None, OutputFlavour::Cpf},
    };
    return kinds;
}

const FileKindInfo& FileKindOf(FileKind kind)
{
    const std::vector<FileKindInfo>& kinds = FileKinds();
    return *std::find_if(kinds.begin(), kinds.end(), [kind](const FileKindInfo& info) { return info.m_Kind == kind; });
}

std::optional<FileKind> FileKindFromExtension(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (const FileKindInfo& info : FileKinds())
        if (info.m_Extensions.contains(suffix))
            return info.m_Kind;
    return std::nullopt;
}

std::optional<FileKind> FileKindFromContent(const QByteArray& head)
{
    BinaryReader in(head);
    std::uint32_t first = 0, second = 0;
    in.Read(first);
    in.Read(second);
    if (first == kWorkspaceTag)
        return FileKind::Workspace;
    if (first == kCpfTag)
        return FileKind::Cpf;
    if (first == kDpfHeaderLength && second == kGpfTag)
        return FileKind::Gpf;
    if (first == kDpfHeaderLength && second == kDpfTag)
        return FileKind::Dpf;
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)) ||
        head.startsWith(QByteArray("II+\0", 4)) || head.startsWith(QByteArray("MM\0+", 4)))
        return FileKind::Tif;
    switch (SniffPictureFormat(head)) {
    case PictureFormat::Bmp:
        return FileKind::Bmp;
    case PictureFormat::Dib:
        return FileKind::Dib;
    case PictureFormat::Gif:
        return FileKind::Gif;
    case PictureFormat::Ico:
        return FileKind::Ico;
    case PictureFormat::Jpeg:
        return FileKind::Jpg;
    case PictureFormat::Emf:
        return FileKind::Emf;
    case PictureFormat::Wmf:
        return FileKind::Wmf;
    case PictureFormat::Unknown:
        break;
    }
    return std::nullopt;
}

std::optional<FileKind> FileKindOfFile(const QString& path)
{
    constexpr qsizetype kHeadBytes = 512;
    QByteArray head;
    if (ReadFileHead(path, kHeadBytes, head))
        if (const std::optional<FileKind> kind = FileKindFromContent(head))
            return kind;
    return FileKindFromExtension(path);
}

QString NewMapFilter()
{
    QStringList names, extensions;
    QString entries;
    for (const FileKindInfo& info : FileKinds()) {
        if (info.m_MapKind == MapKind::None)
            continue;
        names << info.m_Extensions.constFirst();
        extensions << info.m_Extensions.constFirst();
        entries += NamedEntry(info.m_Kind);
    }
    return Entry(QStringLiteral("Picture Files (%1)").arg(names.join(QLatin1Char('.'))), extensions) + entries +
           kAllFiles;
}

std::optional<MapKind> MapTypeFromExtension(const QString& path)
{
    // Only three characters are compared, so ".tiff" is known by "IFF" (and ".jpeg" not at all).
    const QString ending = path.right(3).toUpper();
    for (const FileKindInfo& info : FileKinds())
        if (info.m_MapKind != MapKind::None && info.m_Extensions.constFirst().right(3).toUpper() == ending)
            return info.m_MapKind;
    return std::nullopt;
}

std::optional<MapKind> MapTypeForNewEntry(int entry, const QString& path)
{
    if (entry == kPictureFilesEntry)
        return MapTypeFromExtension(path).value_or(MapKind::AnyPicture);
    for (const FileKindInfo& info : FileKinds())
        if (info.m_MapKind != MapKind::None && static_cast<int>(info.m_MapKind) == entry)
            return info.m_MapKind;
    return std::nullopt;
}

namespace {

/// The Open dialog's entries in order; "All Files" follows them.
constexpr FileKind kOpenKinds[] = {FileKind::Workspace, FileKind::Cpf, FileKind::Dpf, FileKind::Gpf};

} // namespace

QString OpenFilter()
{
    // GPF comes last, so that the entries the dialog has always had keep their positions.
    QString filter = kWorkspaceEntry;
    for (const FileKind kind : kOpenKinds)
        if (kind != FileKind::Workspace)
            filter += NamedEntry(kind);
    return filter + kAllFiles;
}

std::optional<FileKind> OpenKindForEntry(int entry)
{
    if (entry < 1 || entry > static_cast<int>(std::size(kOpenKinds)))
        return std::nullopt;
    return kOpenKinds[entry - 1];
}

QString WorkspaceSaveFilter()
{
    return kWorkspaceEntry + NamedEntry(FileKind::Workspace) + kAllFiles;
}

QString OutputFilter()
{
    return NamedEntry(FileKind::Gpf) + NamedEntry(FileKind::Dpf) + NamedEntry(FileKind::Cpf);
}

namespace {

const FileKindInfo* FlavourRow(OutputFlavour flavour)
{
    for (const FileKindInfo& info : FileKinds())
        if (info.m_OutputFlavour == flavour)
            return &info;
    return nullptr;
}

} // namespace

std::optional<OutputFlavour> OutputFlavourFromName(const QString& name)
{
    for (const FileKindInfo& info : FileKinds())
        if (info.m_OutputFlavour && info.m_Extensions.contains(name.toLower()))
            return info.m_OutputFlavour;
    return std::nullopt;
}

std::optional<OutputFlavour> OutputFlavourForEntry(int entry)
{
    // The dialog lists the flavours in their own order.
    for (const FileKindInfo& info : FileKinds())
        if (info.m_OutputFlavour && static_cast<int>(*info.m_OutputFlavour) == entry)
            return info.m_OutputFlavour;
    return std::nullopt;
}

QString OutputExtension(OutputFlavour flavour)
{
    return QLatin1Char('.') + FlavourRow(flavour)->m_Extensions.constFirst();
}

QString OutputName(OutputFlavour flavour)
{
    return QLatin1String(FlavourRow(flavour)->m_strName);
}

std::optional<ProjectionKind> ProjectionKindOf(FileKind kind)
{
    switch (kind) {
    case FileKind::Gpf:
    case FileKind::Dpf:
        return ProjectionKind::Dpf;
    case FileKind::Cpf:
        return ProjectionKind::Cpf;
    default:
        return std::nullopt;
    }
}

QString BitmapSaveFilter()
{
    return QStringLiteral("BMP - Bitmap picture (*.bmp)|");
}

QString ExportFilter(const QString& worldExtension)
{
    const QString world = QStringLiteral("*") + worldExtension;
    return QStringLiteral("GeoTIFF (*.tif)|*.tif|World file (%1)|%1|Control points, QGIS (*.points)|*.points|"
                          "Control points, CSV (*.csv)|*.csv||")
        .arg(world);
}

QString ImportPointsFilter()
{
    return QStringLiteral("Control points (*.points *.csv)|*.points;*.csv|Control points, QGIS (*.points)|*.points|"
                          "Control points, CSV (*.csv)|*.csv|All Files (*.*)|*.*||");
}
