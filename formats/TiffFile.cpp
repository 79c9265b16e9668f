#include "formats/TiffFile.h"

#include "formats/TiffMessageScope.h"
#include "platform/DisplayText.h"
#include "platform/FileIO.h"

#include <QFile>
#include <QFileInfo>

#include <tiffio.h>
#include <xtiffio.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// Why path could not be opened, in libtiff's own manner ("PATH: No such file or directory").
QString OpenFailureText(const QString& path, int error)
{
    if (path.isEmpty())
        return QStringLiteral("No map file is named (the name is empty).");
    if (error == ENODEV || error == EISDIR)
        return QStringLiteral("%1: not a regular file (a folder, a FIFO or a device)").arg(DisplayText(path));
    return QStringLiteral("%1: %2").arg(DisplayText(path), QString::fromLocal8Bit(std::strerror(error)));
}

/// libtiff's module is often the file's name.
QString WithModule(const char* module, const QString& message)
{
    return module && *module ? DisplayText(QString::fromLocal8Bit(module)) + QStringLiteral(": ") + message : message;
}

/// libtiff's text as the detail under a sentence that says what it means for the map: a file
/// that ends, or holds numbers that point, before what libtiff had to read (a download or a copy
/// cut short, a damaged disk); another fault that stops part of the file being read; or, for a
/// warning, damage libtiff decoded past.
QString Explained(TIFF* tif, TiffMessageScope::Kind kind, const QString& text)
{
    const QString file = tif ? QFileInfo(QFile::decodeName(TIFFFileName(tif))).fileName() : QString();
    const QString name = file.isEmpty() ? QStringLiteral("The TIFF file") : DisplayText(file);
    static const char* const kShortRead[] = {"read error", "can not read", "cannot read", "io error",
                                             "seek error", "sanity check", "premature", "not enough data"};
    for (const char* words : kShortRead)
        if (text.contains(QLatin1String(words), Qt::CaseInsensitive))
            return QStringLiteral("%1 is damaged or cut short: part of it cannot be read.\n\nlibtiff: %2")
                .arg(name, text);
    if (kind == TiffMessageScope::Kind::Warning)
        return QStringLiteral("%1 is damaged: part of the map may be missing or wrong.\n\nlibtiff: %2").arg(name, text);
    return QStringLiteral("Part of %1 cannot be read: the file is damaged, or it is a kind of TIFF that Varnel does "
                          "not read.\n\nlibtiff: %2")
        .arg(name, text);
}

/// Whether libtiff says only that it read on past something in a directory that the import does
/// not rely on: a private tag it does not know, or one of a type it cannot store, left out;
/// entries out of order; a value it mended as every reader would. What the import needs of a
/// directory it checks itself, and libtiff complains again where a missing value stops it, so
/// these change nothing of the map.
bool ReadPast(TiffMessageScope::Kind kind, const char* module, const char* format)
{
    if (!format)
        return false;
    if (kind == TiffMessageScope::Kind::Error)
        return std::strstr(format, "thus tag is not read from file") != nullptr;
    static const char* const kDirectoryReaders[] = {"TIFFReadDirectory", "TIFFFetch", "TIFFReadCustomDirectory",
                                                    "TIFFReadDirEntry", "_TIFFVSetField"};
    for (const char* reader : kDirectoryReaders)
        if (module && std::strncmp(module, reader, std::strlen(reader)) == 0)
            return true;
    return false;
}

int Route(TiffMessageScope::Kind kind, TIFF* tif, const char* module, const char* format, va_list arguments)
{
    if (!ReadPast(kind, module, format)) {
        const QString text = WithModule(module, TiffMessageScope::Format(format, arguments));
        TiffMessageScope::Report(kind, Explained(tif, kind, text));
    }
    return 1; // handled: libtiff's own handlers stay quiet
}

int RouteError(TIFF* tif, void*, const char* module, const char* format, va_list arguments)
{
    return Route(TiffMessageScope::Kind::Error, tif, module, format, arguments);
}

int RouteWarning(TIFF* tif, void*, const char* module, const char* format, va_list arguments)
{
    return Route(TiffMessageScope::Kind::Warning, tif, module, format, arguments);
}

} // namespace

TiffFile::TiffFile(const QString& path, Access access)
{
    // Registers the GeoTIFF tags for every later open; libtiff keeps the extender for good.
    static std::once_flag registered;
    std::call_once(registered, [] { XTIFFInitialize(); });

    // Only a regular file is a map: a FIFO, a device or a folder named by a workspace is refused,
    // and a FIFO with no writer cannot hang the import.
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    int error = 0;
    const int fd = OpenRegularFile(path, info, error);
    if (fd < 0) {
        TiffMessageScope::Report(TiffMessageScope::Kind::Error, OpenFailureText(path, error));
        return;
    }
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) {
        ::close(fd);
        return;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, RouteError, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, RouteWarning, nullptr);
    // "m": plain reads instead of a memory mapping. libtiff closes the descriptor with the file.
    m_pTiff = TIFFFdOpenExt(fd, native.constData(), access == Access::Read ? "rm" : "r", options);
    TIFFOpenOptionsFree(options);
    if (!m_pTiff)
        ::close(fd);
    else
        m_nFileSize = static_cast<std::int64_t>(info.st_size);
}

TiffFile::~TiffFile()
{
    if (m_pTiff)
        TIFFClose(m_pTiff);
}
