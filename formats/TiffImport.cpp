#include "formats/TiffImport.h"

#include "formats/TiffDecoder.h"
#include "formats/TiffFile.h"
#include "formats/TiffMessageScope.h"
#include "imaging/DIBSection.h"

#include <tiffio.h>
#include <geotiff.h>
#include <xtiffio.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>

namespace {

/// Width and height of the current directory as ints; 0 for an absent tag or a value no
/// picture of ours can have.
struct DirectorySize {
    int m_nWidth = 0;
    int m_nHeight = 0;
};

DirectorySize ReadDirectorySize(TIFF* tif)
{
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    if (width > INT_MAX || height > INT_MAX)
        return {};
    return {static_cast<int>(width), static_cast<int>(height)};
}

/// The values of a variable-length tag, however libtiff was told to count them.
template <typename T>
std::optional<std::pair<const T*, std::uint32_t>> ReadCountedTag(TIFF* tif, std::uint32_t tag)
{
    const TIFFField* field = TIFFFindField(tif, tag, TIFF_ANY);
    if (!field || !TIFFFieldPassCount(field))
        return std::nullopt;
    void* data = nullptr;
    std::uint32_t count = 0;
    if (TIFFFieldReadCount(field) == TIFF_VARIABLE2) {
        if (!TIFFGetField(tif, tag, &count, &data))
            return std::nullopt;
    } else {
        std::uint16_t shortCount = 0;
        if (!TIFFGetField(tif, tag, &shortCount, &data))
            return std::nullopt;
        count = shortCount;
    }
    if (!data)
        return std::nullopt;
    return std::make_pair(static_cast<const T*>(data), count);
}

std::vector<double> ReadDoubles(TIFF* tif, std::uint32_t tag)
{
    const TIFFField* field = TIFFFindField(tif, tag, TIFF_ANY);
    if (!field || TIFFFieldDataType(field) != TIFF_DOUBLE)
        return {};
    const auto values = ReadCountedTag<double>(tif, tag);
    if (!values)
        return {};
    return std::vector<double>(values->first, values->first + values->second);
}

QByteArray ReadText(TIFF* tif, std::uint32_t tag)
{
    const TIFFField* field = TIFFFindField(tif, tag, TIFF_ANY);
    if (!field || TIFFFieldDataType(field) != TIFF_ASCII)
        return {};
    if (TIFFFieldPassCount(field)) {
        const auto text = ReadCountedTag<char>(tif, tag);
        return text ? QByteArray(text->first, static_cast<qsizetype>(qstrnlen(text->first, text->second))) : QByteArray();
    }
    const char* text = nullptr;
    return TIFFGetField(tif, tag, &text) && text ? QByteArray(text) : QByteArray();
}

/// The GTCitationGeoKey text, read whole into a buffer of the key's own size.
QByteArray ReadCitationKey(GTIF* gtif)
{
    int size = 0;
    tagtype_t type = TYPE_UNKNOWN;
    const int count = GTIFKeyInfo(gtif, GTCitationGeoKey, &size, &type);
    if (count <= 0 || size != 1 || type != TYPE_ASCII)
        return {};
    QByteArray text(count + 1, '\0');
    if (GTIFKeyGet(gtif, GTCitationGeoKey, text.data(), 0, count) <= 0)
        return {};
    text.truncate(static_cast<qsizetype>(qstrnlen(text.constData(), static_cast<size_t>(count))));
    return text;
}

void RouteGeoTiffMessage(GTIF*, int level, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const QString text = TiffMessageScope::Format(format, arguments);
    va_end(arguments);
    TiffMessageScope::Report(level == LIBGEOTIFF_ERROR ? TiffMessageScope::Kind::Error
                                                       : TiffMessageScope::Kind::Warning,
                             text);
}

struct GtifFree {
    void operator()(GTIF* gtif) const { GTIFFree(gtif); }
};

QByteArray AsciiUpper(const QByteArray& token)
{
    QByteArray upper = token;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

/// An optional leading '-' followed by digits only; "-" alone counts, an empty token does not.
bool IsInteger(const QByteArray& token)
{
    if (token.isEmpty())
        return false;
    for (qsizetype i = 0; i < token.size(); ++i) {
        const char c = token[i];
        if (!(c >= '0' && c <= '9') && !(i == 0 && c == '-'))
            return false;
    }
    return true;
}

/// The value of an integer token, held to the int range.
int IntegerValue(const QByteArray& token)
{
    const bool negative = token.startsWith('-');
    long long value = 0;
    for (qsizetype i = negative ? 1 : 0; i < token.size(); ++i) {
        value = value * 10 + (token[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            break;
    }
    if (negative)
        value = -value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

/// The zone token names the southern hemisphere ("33S"); a GeoASCII entry's closing '|' after
/// it ("33S|", as a citation taken from the GeoAsciiParamsTag has) does not count.
bool EndsInS(QByteArray token)
{
    if (token.endsWith('|'))
        token.chop(1);
    return token.endsWith('S') || token.endsWith('s');
}

} // namespace

int ScanTiffImages(std::vector<TIFFSubImage>& list, const QString& path)
{
    TiffMessageScope messages;
    TiffFile file(path);
    if (!file)
        return 0;
    int count = 0;
    const tdir_t directories = TIFFNumberOfDirectories(file.Handle());
    for (tdir_t i = 0; i < directories && i <= static_cast<tdir_t>(INT_MAX); ++i) {
        if (!TIFFSetDirectory(file.Handle(), i))
            continue;
        const DirectorySize size = ReadDirectorySize(file.Handle());
        std::uint16_t bitsPerSample = 0;
        TIFFGetField(file.Handle(), TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
        if (size.m_nWidth == 0 || size.m_nHeight == 0)
            continue;
        const int index = static_cast<int>(i);
        list.push_back({size.m_nWidth, size.m_nHeight, index, bitsPerSample, QStringLiteral("image%1").arg(index)});
        ++count;
    }
    return count;
}

int LoadTiffImage(const QString& path, DIBSection& section, int index, const Progress& progress)
{
    TiffMessageScope messages;
    DirectorySize size;
    int result = 0;
    {
        TiffFile file(path);
        if (!file || index < 0 || !TIFFSetDirectory(file.Handle(), static_cast<tdir_t>(index)))
            return 0;
        size = ReadDirectorySize(file.Handle());
        if (size.m_nWidth <= 0 || size.m_nHeight <= 0)
            return 0;
        section.Create(24, size.m_nWidth, size.m_nHeight);
        if (section.m_pBits) {
            if (TiffDecodesDirectly(file.Handle())) {
                result = DecodeTiffDirectory(file.Handle(), section, {}, progress) ? 1 : 0;
            } else {
                TiffFile mapped(path, TiffFile::Access::Mapped);
                if (mapped && TIFFSetDirectory(mapped.Handle(), static_cast<tdir_t>(index)))
                    result = DecodeTiffDirectory(mapped.Handle(), section, {}, progress) ? 1 : 0;
            }
        }
    }

    // Every directory carries the georeference of the first one, with its own size.
    GeoTiffInfo info;
    if (ReadGeoTiffInfo(path, info) && section.m_pGeoTiffInfo) {
        info.m_nRows = size.m_nHeight;
        info.m_nColumns = size.m_nWidth;
        *section.m_pGeoTiffInfo = info;
        section.m_bHasGeoTiffInfo = true;
    }
    return result;
}

bool ReadGeoTiffInfo(const QString& path, GeoTiffInfo& info)
{
    TiffMessageScope messages;
    TiffFile file(path);
    if (!file)
        return false;
    const std::unique_ptr<GTIF, GtifFree> gtif(GTIFNewEx(file.Handle(), RouteGeoTiffMessage, nullptr));
    if (!gtif)
        return false;

    QByteArray citation = ReadCitationKey(gtif.get());
    if (citation.isEmpty())
        citation = ReadText(file.Handle(), TIFFTAG_GEOASCIIPARAMS);
    if (!citation.isEmpty())
        ApplyCitation(citation, info);

    const std::vector<double> tiePoint = ReadDoubles(file.Handle(), TIFFTAG_GEOTIEPOINTS);
    if (tiePoint.size() < 6)
        return false;
    info.m_dTieX = tiePoint[3];
    info.m_dTieY = tiePoint[4];
    const std::vector<double> scale = ReadDoubles(file.Handle(), TIFFTAG_GEOPIXELSCALE);
    if (scale.size() >= 2) {
        info.m_dScaleX = scale[0];
        info.m_dScaleY = scale[1];
    }
    return true;
}

QList<QByteArray> TokenizeCitation(const QByteArray& text)
{
    QList<QByteArray> tokens;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool separator = i == text.size() || text[i] == ',' || text[i] == '\t' || text[i] == ' ' ||
                               static_cast<signed char>(text[i]) < 32;
        if (separator) {
            if (start >= 0)
                tokens.append(text.mid(start, i - start));
            start = -1;
        } else if (start < 0) {
            start = i;
        }
    }
    return tokens;
}

void ApplyCitation(const QByteArray& citation, GeoTiffInfo& info)
{
    const QList<QByteArray> tokens = TokenizeCitation(citation);
    bool utmSeen = false;
    bool integerZone = false;
    std::optional<int> namedDatum;
    std::optional<bool> zoneSouth; // hemisphere suffix of the last zone found
    bool southernHemisphere = false;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const QByteArray upper = AsciiUpper(tokens[i]);
        const bool hasNext = i + 1 < tokens.size();
        if (upper == "UTM")
            utmSeen = true;
        if (utmSeen && IsInteger(upper)) {
            info.m_bHasZone = 1;
            info.m_nUtmZone = IntegerValue(upper);
            integerZone = true;
            zoneSouth = false;
        }
        if (upper == "ZONE" && hasNext && utmSeen) {
            const QByteArray& next = tokens[i + 1];
            const char firstTwo[3] = {next[0], next.size() > 1 ? next[1] : '\0', '\0'};
            info.m_nUtmZone = std::atoi(firstTwo);
            info.m_bHasZone = 1;
            zoneSouth = EndsInS(next);
        }
        if (upper.startsWith("NAD27"))
            namedDatum = 1;
        else if (upper.startsWith("WGS84"))
            namedDatum = 0;
        if (upper == "SOUTHERN" && hasNext && AsciiUpper(tokens[i + 1]) == "HEMISPHERE")
            southernHemisphere = true;
    }
    if (namedDatum)
        info.m_nDatum = *namedDatum;
    else if (integerZone)
        info.m_nDatum = 1;
    if (southernHemisphere || zoneSouth.value_or(false))
        info.m_bSouth = 1;
    else if (zoneSouth)
        info.m_bSouth = 0;
}

TiffImport ImportTiffImages(const QString& path, int limit, const Progress& progress)
{
    TiffMessageScope messages;
    std::vector<TIFFSubImage> directories;
    ScanTiffImages(directories, path);
    // Progress goes by pixels: a map's first image usually dwarfs its overviews.
    double total = 0.0;
    for (const TIFFSubImage& directory : directories)
        total += double(directory.m_nWidth) * directory.m_nHeight;
    double done = 0.0;
    std::vector<ImportedTiffImage> images;
    for (const TIFFSubImage& directory : directories) {
        if (limit >= 0 && static_cast<int>(images.size()) >= limit)
            break;
        // Each listed directory is decoded by its own index, so a file with an unreadable
        // directory among readable ones still yields every picture it has.
        const double pixels = double(directory.m_nWidth) * directory.m_nHeight;
        ImportedTiffImage imported{directory, {}};
        LoadTiffImage(path, imported.m_Image, directory.m_nDirectory,
                      progress.Part(done / total, (done + pixels) / total));
        if (progress.Cancelled()) {
            TiffImport cancelled;
            cancelled.m_bCancelled = true;
            return cancelled;
        }
        done += pixels;
        if (imported.m_Image.m_pBits)
            images.push_back(std::move(imported));
    }
    return {std::move(images), messages.Messages(), false};
}
