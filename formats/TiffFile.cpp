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

/// libtiff's text as the detail under a sentence that says what it means, where it tells of a
/// file that ends, or holds numbers that point, before what libtiff had to read (a download or a
/// copy cut short, a damaged disk); its other texts as they are.
QString Explained(TIFF* tif, const QString& text)
{
    static const char* const kShortRead[] = {"read error", "can not read", "cannot read", "io error",
                                             "seek error", "sanity check", "premature", "not enough data"};
    for (const char* words : kShortRead) {
        if (!text.contains(QLatin1String(words), Qt::CaseInsensitive))
            continue;
        const QString name = tif ? QFileInfo(QFile::decodeName(TIFFFileName(tif))).fileName() : QString();
        return QStringLiteral("%1 is damaged or cut short: part of it cannot be read.\n\nlibtiff: %2")
            .arg(name.isEmpty() ? QStringLiteral("The TIFF file") : DisplayText(name), text);
    }
    return text;
}

int RouteError(TIFF* tif, void*, const char* module, const char* format, va_list arguments)
{
    TiffMessageScope::Report(TiffMessageScope::Kind::Error,
                             Explained(tif, WithModule(module, TiffMessageScope::Format(format, arguments))));
    return 1; // handled: libtiff's own handlers stay quiet
}

int RouteWarning(TIFF* tif, void*, const char* module, const char* format, va_list arguments)
{
    // GeoTIFF writers add private tags (GDAL metadata, no-data value) routinely; libtiff reads
    // past them and nothing of the import depends on them, so they are not worth a box.
    if (format && std::strncmp(format, "Unknown field with tag", 22) == 0)
        return 1;
    TiffMessageScope::Report(TiffMessageScope::Kind::Warning,
                             Explained(tif, WithModule(module, TiffMessageScope::Format(format, arguments))));
    return 1;
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
