#include "imaging/PictureService.h"

#include "imaging/BitmapInfoHeader.h"
#include "imaging/BmpEncoding.h"
#include "imaging/MetafilePicture.h"
#include "imaging/PictureClaims.h"
#include "imaging/PictureReaderMessages.h"
#include "imaging/RasterPicture.h"
#include "platform/BinaryIO.h"
#include "platform/MemoryBudget.h"
#include "platform/WinTypes.h"

#include <QBuffer>
#include <QImageReader>

#include <png.h>

#include <vector>

namespace {

// Large scanned maps decode to several hundred megabytes; refuse only what no map needs.
constexpr int kDecodeLimitMegabytes = 8192;

bool StartsWith(const QByteArray& d, const char* magic, qsizetype size)
{
    return d.size() >= size && std::memcmp(d.constData(), magic, static_cast<size_t>(size)) == 0;
}

bool IsDibHeader(const QByteArray& d)
{
    const std::uint32_t headerSize = HeaderU32(d, 0);
    if (headerSize == 12)
        return d.size() >= 12 && HeaderU16(d, 8) == 1;
    const bool knownSize = headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 ||
                           headerSize == 108 || headerSize == 124;
    if (!knownSize || d.size() < qsizetype(headerSize))
        return false;
    const std::uint16_t bits = HeaderU16(d, 14);
    return HeaderU16(d, 12) == 1 && (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32);
}

/// A header-less DIB (information header, colour table, rows) with the 14-byte file header put
/// in front, so that it becomes a complete BMP file. Empty when the header is inconsistent.
QByteArray DibToBmpFile(const QByteArray& dib)
{
    const std::uint32_t headerSize = HeaderU32(dib, 0);
    std::uint64_t tableBytes = 0;
    if (headerSize == 12) {
        const std::uint16_t bits = HeaderU16(dib, 10);
        tableBytes = bits <= 8 ? (std::uint64_t(1) << bits) * 3 : 0;
    } else {
        const std::uint16_t bits = HeaderU16(dib, 14);
        const std::uint32_t compression = HeaderU32(dib, 16);
        const std::uint32_t used = HeaderU32(dib, 32);
        const std::uint64_t colours = used ? used : (bits <= 8 ? std::uint64_t(1) << bits : 0);
        std::uint64_t masks = 0;
        if (headerSize == 40 && compression == BI_BITFIELDS)
            masks = 12;
        tableBytes = masks + colours * 4;
    }
    const std::uint64_t pixelOffset = kBitmapFileHeaderSize + headerSize + tableBytes;
    const std::uint64_t fileSize = kBitmapFileHeaderSize + std::uint64_t(dib.size());
    if (pixelOffset > fileSize || fileSize > INT32_MAX)
        return {};
    QByteArray file;
    file.reserve(static_cast<qsizetype>(fileSize));
    BinaryWriter out(file);
    WriteBmpFileHeader(out, static_cast<std::uint32_t>(fileSize), static_cast<std::uint32_t>(pixelOffset));
    out.WriteBytes(dib);
    return file;
}

/// libpng's words for the first PNG picture inside an ICO file that it cannot read; nothing when
/// every one reads. Qt's PNG reader lets libpng write its errors straight to standard error, so
/// the icons are read here first through libpng's own reader, which keeps its message.
std::optional<QString> PngIconFault(const QByteArray& ico)
{
    const int count = HeaderU16(ico, 4);
    for (int i = 0; i < count && 6 + 16 * (i + 1) <= ico.size(); ++i) {
        const qsizetype size = HeaderU32(ico, 6 + 16 * i + 8), at = HeaderU32(ico, 6 + 16 * i + 12);
        if (at + 8 > ico.size() || std::memcmp(ico.constData() + at, "\x89PNG\r\n\x1a\n", 8) != 0)
            continue;
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        bool read = png_image_begin_read_from_memory(&image, ico.constData() + at, std::min(size, ico.size() - at));
        if (read) {
            image.format = PNG_FORMAT_RGBA;
            // The icon's size has been checked against its bytes and the memory before this.
            std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
            read = png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
        }
        const QString message = QString::fromLocal8Bit(image.message);
        png_image_free(&image);
        if (!read)
            return QStringLiteral("libpng: ") + message;
    }
    return std::nullopt;
}

QImage Decode(const QByteArray& data, const char* format)
{
    QImageReader::setAllocationLimit(kDecodeLimitMegabytes);
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer, format);
    reader.setAutoDetectImageFormat(false);
    reader.setAutoTransform(false); // pictures are shown as stored, whatever their EXIF says
    return reader.read();
}

/// Opaque pictures are held as RGB32, pictures with transparency as premultiplied ARGB32:
/// the two formats the painter stretches without converting.
QImage ForDrawing(const QImage& image, bool keepAlpha)
{
    QImage converted = image.convertToFormat(keepAlpha && image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                                                  : QImage::Format_RGB32);
    RequirePixels(converted);
    return converted;
}

} // namespace

PictureFormat SniffPictureFormat(const QByteArray& data)
{
    if (StartsWith(data, "BM", 2) && data.size() >= qsizetype(kBitmapFileHeaderSize + 12))
        return PictureFormat::Bmp;
    if (StartsWith(data, "GIF87a", 6) || StartsWith(data, "GIF89a", 6))
        return PictureFormat::Gif;
    if (StartsWith(data, "\xFF\xD8\xFF", 3))
        return PictureFormat::Jpeg;
    if (StartsWith(data, "\x00\x00\x01\x00", 4) && HeaderU16(data, 4) > 0)
        return PictureFormat::Ico;
    if (HeaderU32(data, 0) == 1 && HeaderU32(data, 40) == 0x464D4520u) // EMR_HEADER with the " EMF" signature
        return PictureFormat::Emf;
    if (HeaderU32(data, 0) == 0x9AC6CDD7u) // placeable metafile key
        return PictureFormat::Wmf;
    const std::uint16_t wmfType = HeaderU16(data, 0), wmfVersion = HeaderU16(data, 4);
    if ((wmfType == 1 || wmfType == 2) && HeaderU16(data, 2) == 9 && (wmfVersion == 0x0100 || wmfVersion == 0x0300))
        return PictureFormat::Wmf;
    if (IsDibHeader(data))
        return PictureFormat::Dib;
    return PictureFormat::Unknown;
}

std::unique_ptr<IPicture> LoadPicture(const QByteArray& data, QString* refusal)
{
    // What the readers say goes no further than this; when they fail, their last words are why.
    const PictureReaderMessages messages;
    QImage image;
    QByteArray bmpFile;
    bool keepAlpha = true;
    // What the header claims is checked before the decoder allocates for it.
    const auto refused = [refusal](const QByteArray& bytes, PictureFormat format) {
        const std::optional<QString> why = RasterPictureRefusal(bytes, format);
        if (why && refusal)
            *refusal = *why;
        return why.has_value();
    };
    const PictureFormat format = SniffPictureFormat(data);
    switch (format) {
    case PictureFormat::Bmp:
        bmpFile = data;
        if (auto wrapped = RasterPicture::WrapBmpRows(bmpFile))
            return wrapped;
        if (refused(bmpFile, format))
            return nullptr;
        image = Decode(bmpFile, "bmp");
        keepAlpha = false; // bitmaps are drawn opaque, whatever their fourth byte holds
        break;
    case PictureFormat::Dib:
        bmpFile = DibToBmpFile(data);
        if (auto wrapped = RasterPicture::WrapBmpRows(bmpFile))
            return wrapped;
        if (!bmpFile.isEmpty() && !refused(bmpFile, format))
            image = Decode(bmpFile, "bmp");
        keepAlpha = false;
        break;
    case PictureFormat::Gif:
        if (!refused(data, format))
            image = Decode(data, "gif");
        break;
    case PictureFormat::Ico:
        if (refused(data, format))
            break;
        if (const std::optional<QString> fault = PngIconFault(data)) {
            if (refusal)
                *refusal = PictureReaderMessages::UnreadableWith(*fault);
            return nullptr;
        }
        image = Decode(data, "ico");
        break;
    case PictureFormat::Jpeg:
        if (!refused(data, format))
            image = Decode(data, "jpeg");
        break;
    case PictureFormat::Emf:
        return MetafilePicture::Load(data, PictureFormat::Emf);
    case PictureFormat::Wmf:
        return MetafilePicture::Load(data, PictureFormat::Wmf);
    case PictureFormat::Unknown:
        return nullptr;
    }
    if (image.isNull()) {
        if (refusal && refusal->isEmpty())
            *refusal = messages.Unreadable().value_or(QString());
        return nullptr;
    }
    return std::make_unique<RasterPicture>(ForDrawing(image, keepAlpha), bmpFile);
}

std::optional<QSize> PictureFileSize(const QByteArray& data)
{
    const PictureFormat format = SniffPictureFormat(data);
    const char* kind = nullptr;
    switch (format) {
    case PictureFormat::Bmp:
        kind = "bmp";
        break;
    case PictureFormat::Dib:
        return PictureFileSize(DibToBmpFile(data));
    case PictureFormat::Gif:
        kind = "gif";
        break;
    case PictureFormat::Ico:
        kind = "ico";
        break;
    case PictureFormat::Jpeg:
        kind = "jpeg";
        break;
    case PictureFormat::Wmf:
        // A plain metafile that states no size is measured by playing its records, text and all.
        if (const std::optional<WmfHeader> header = ReadWmfHeader(data); !header || header->frame.isEmpty())
            return std::nullopt;
        [[fallthrough]];
    case PictureFormat::Emf:
        if (const std::unique_ptr<MetafilePicture> metafile = MetafilePicture::Load(data, format))
            return metafile->PixelSize();
        return std::nullopt;
    case PictureFormat::Unknown:
        return std::nullopt;
    }
    const PictureReaderMessages quiet;
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly))
        return std::nullopt;
    QImageReader reader(&buffer, kind);
    reader.setAutoDetectImageFormat(false);
    const QSize size = reader.size();
    return size.isValid() ? std::optional<QSize>(size) : std::nullopt;
}
