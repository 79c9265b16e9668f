#include "formats/TiffFile.h"

#include "formats/TiffMessageScope.h"

#include <QFile>

#include <tiffio.h>
#include <xtiffio.h>

#include <cstring>
#include <mutex>

namespace {

QString WithModule(const char* module, const QString& message)
{
    return module && *module ? QString::fromLocal8Bit(module) + QStringLiteral(": ") + message : message;
}

int RouteError(TIFF*, void*, const char* module, const char* format, va_list arguments)
{
    TiffMessageScope::Report(TiffMessageScope::Kind::Error, WithModule(module, TiffMessageScope::Format(format, arguments)));
    return 1; // handled: libtiff's own handlers stay quiet
}

int RouteWarning(TIFF*, void*, const char* module, const char* format, va_list arguments)
{
    // GeoTIFF writers add private tags (GDAL metadata, no-data value) routinely; libtiff reads
    // past them and nothing of the import depends on them, so they are not worth a box.
    if (format && std::strncmp(format, "Unknown field with tag", 22) == 0)
        return 1;
    TiffMessageScope::Report(TiffMessageScope::Kind::Warning, WithModule(module, TiffMessageScope::Format(format, arguments)));
    return 1;
}

} // namespace

TiffFile::TiffFile(const QString& path, Access access)
{
    // Registers the GeoTIFF tags for every later open; libtiff keeps the extender for good.
    static std::once_flag registered;
    std::call_once(registered, [] { XTIFFInitialize(); });

    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        return;
    TIFFOpenOptionsSetErrorHandlerExtR(options, RouteError, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, RouteWarning, nullptr);
    // "m": plain reads instead of a memory mapping.
    m_pTiff = TIFFOpenExt(QFile::encodeName(path).constData(), access == Access::Read ? "rm" : "r", options);
    TIFFOpenOptionsFree(options);
}

TiffFile::~TiffFile()
{
    if (m_pTiff)
        TIFFClose(m_pTiff);
}
