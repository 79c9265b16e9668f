#include "formats/TiffImport.h"

#include "formats/TiffDecoder.h"
#include "formats/TiffFile.h"
#include "formats/TiffMessageScope.h"
#include "imaging/DIBSection.h"
#include "platform/DisplayText.h"
#include "platform/MemoryBudget.h"

#include <QFileInfo>

#include "geo/MapCrs.h"

#include <tiffio.h>
#include <cpl_conv.h>
#include <cpl_error.h>
#include <geotiff.h>
#include <proj.h>
#include <geo_normalize.h>
#include <geovalues.h>
#include <xtiffio.h>

#include <algorithm>
#include <climits>
#include <cmath>
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

/// The most bytes one byte of a strip or tile can decode to under the directory's compression
/// (a generous bound for each codec: PackBits makes 128 bytes of 2, Deflate about 1032 of 1,
/// LZW a few thousand, a JPEG block of 64 samples takes at least one bit, a fax row one bit).
/// The other codecs (LZMA, Zstandard, WebP, JBIG, LERC, ...) reach tens of thousands on blank
/// data (a Zstandard block of 128 KB in 4 bytes); 65536 still refuses a few bytes claiming a
/// map of gigabytes.
std::int64_t MaxExpansion(TIFF* tif)
{
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    switch (compression) {
    case COMPRESSION_NONE:
        return 1;
    case COMPRESSION_PACKBITS:
        return 64;
    case COMPRESSION_DEFLATE:
    case COMPRESSION_ADOBE_DEFLATE:
        return 2048;
    case COMPRESSION_LZW:
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG:
        return 4096;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
        return std::max<std::int64_t>(1, 8 * static_cast<std::int64_t>(TIFFScanlineSize64(tif)));
    default:
        return 65536;
    }
}

/// Why the pixels of the current directory cannot come from the file: a strip or tile the image
/// needs lies outside it or is empty, or all of them together hold too few bytes to describe the
/// pixels the directory declares (a few bytes claiming a huge image). Nothing when the data can
/// cover the image. Looks only at the directory's offsets and byte counts, never at the data.
std::optional<QString> DirectoryDataRefusal(const TiffFile& file, const QString& path, int index,
                                            const DirectorySize& size)
{
    TIFF* tif = file.Handle();
    const std::int64_t fileSize = file.FileSize();
    const QString name = DisplayText(QFileInfo(path).fileName());
    const bool tiled = TIFFIsTiled(tif) != 0;
    const std::uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    std::uint16_t planar = PLANARCONFIG_CONTIG, samples = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const std::int64_t planes = planar == PLANARCONFIG_SEPARATE ? std::max<std::int64_t>(1, samples) : 1;
    const std::optional<std::int64_t> needed =
        tiled ? CheckedProduct(static_cast<std::int64_t>(TIFFTileSize64(tif)), count)
              : CheckedProduct(static_cast<std::int64_t>(TIFFVStripSize64(tif, static_cast<std::uint32_t>(size.m_nHeight))), planes);
    const QString damaged = QStringLiteral("%1 is damaged or cut short: ").arg(name);
    const auto tooLittle = [&](std::int64_t held) {
        return damaged + QStringLiteral("image %1 claims %2 x %3 pixels, far more than the %4 of data the file "
                                        "holds for it can describe.")
                             .arg(index)
                             .arg(size.m_nWidth)
                             .arg(size.m_nHeight)
                             .arg(ByteSizeText(held));
    };
    if (count == 0 || !needed || *needed <= 0)
        return damaged + QStringLiteral("image %1 declares no pixel data it could hold.").arg(index);
    // Every strip or tile takes at least one byte of the file, so their count is bounded by its
    // size before any of them is looked at.
    if (static_cast<std::int64_t>(count) > fileSize)
        return tooLittle(fileSize);
    std::int64_t held = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        int error = 0;
        const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tif, i, &error);
        const std::uint64_t bytes = error ? 0 : TIFFGetStrileByteCountWithErr(tif, i, &error);
        if (error || bytes == 0 || offset >= static_cast<std::uint64_t>(fileSize))
            return damaged + QStringLiteral("%1 %2 of image %3 is not in the file.")
                                 .arg(tiled ? QStringLiteral("tile") : QStringLiteral("strip"))
                                 .arg(i)
                                 .arg(index);
        held += static_cast<std::int64_t>(std::min<std::uint64_t>(bytes, static_cast<std::uint64_t>(fileSize) - offset));
    }
    const std::optional<std::int64_t> describable = CheckedProduct(held, MaxExpansion(tif));
    if (describable && *describable < *needed)
        return tooLittle(held);
    return std::nullopt;
}

/// The memory the pixels of a decoded image take: 24-bit rows padded to four bytes.
std::int64_t SectionBytes(const DirectorySize& size)
{
    return ((std::int64_t(size.m_nWidth) * 3 + 3) & ~std::int64_t(3)) * size.m_nHeight;
}

/// The most directories a map is read from. Far more than any map has (scans have a few pages,
/// a cloud-optimised GeoTIFF a handful of overviews), and it bounds the work a file of thousands
/// of tiny directories could make.
constexpr int kMaxDirectories = 512;

/// Makes the directories of an open file current in increasing order, each read once: forward
/// from the current one (one directory read a step, so a whole file costs one pass instead of
/// one walk from the start for every directory), or, after a directory libtiff could not read,
/// by a walk from the start.
class DirectoryCursor {
public:
    explicit DirectoryCursor(TIFF* tif) : m_pTiff(tif) {} // an opened file is at directory 0

    bool Seek(int index)
    {
        if (!m_pTiff || index < 0)
            return false;
        while (m_nCurrent >= 0 && m_nCurrent < index) {
            if (!TIFFReadDirectory(m_pTiff)) {
                m_nCurrent = -1;
                break;
            }
            ++m_nCurrent;
        }
        if (m_nCurrent == index)
            return true;
        m_nCurrent = TIFFSetDirectory(m_pTiff, static_cast<tdir_t>(index)) ? index : -1;
        return m_nCurrent == index;
    }

private:
    TIFF* m_pTiff;
    int m_nCurrent = 0;
};

/// The open files a whole import decodes from, each positioned by its own cursor; the mapped one
/// (for libtiff's RGBA reader) is opened when a directory first needs it.
struct ImportFiles {
    explicit ImportFiles(const QString& path) : m_strPath(path), m_File(path), m_Cursor(m_File.Handle()) {}

    TIFF* Mapped(int index)
    {
        if (!m_pMapped) {
            m_pMapped = std::make_unique<TiffFile>(m_strPath, TiffFile::Access::Mapped);
            m_pMappedCursor = std::make_unique<DirectoryCursor>(m_pMapped->Handle());
        }
        return *m_pMapped && m_pMappedCursor->Seek(index) ? m_pMapped->Handle() : nullptr;
    }

    QString m_strPath;
    TiffFile m_File;
    DirectoryCursor m_Cursor;
    std::unique_ptr<TiffFile> m_pMapped;
    std::unique_ptr<DirectoryCursor> m_pMappedCursor;
};

/// Decodes directory index of the open files into section (see LoadTiffImage). True when every
/// pixel was decoded; otherwise false, with the section left as
/// it was (refused before anything was made) or empty (decoding failed).
bool DecodeDirectory(ImportFiles& files, DIBSection& section, int index, const Progress& progress)
{
    if (!files.m_File || !files.m_Cursor.Seek(index))
        return false;
    TIFF* tif = files.m_File.Handle();
    const DirectorySize size = ReadDirectorySize(tif);
    if (size.m_nWidth <= 0 || size.m_nHeight <= 0)
        return false;
    // What the file claims is checked against what it holds and against the machine before the
    // section is made: a few bytes must not reserve gigabytes.
    std::optional<QString> refusal = DirectoryDataRefusal(files.m_File, files.m_strPath, index, size);
    if (!refusal)
        refusal = CheckMemory(SectionBytes(size) + TiffDecodeWorkingBytes(tif, files.m_File.FileSize()));
    if (refusal) {
        TiffMessageScope::Report(TiffMessageScope::Kind::Error, *refusal);
        return false;
    }
    section.Create(24, size.m_nWidth, size.m_nHeight);
    bool result = false;
    if (section.m_pBits) {
        if (TiffDecodesDirectly(tif)) {
            result = DecodeTiffDirectory(tif, section, {}, progress);
        } else if (TIFF* mapped = files.Mapped(index)) {
            result = DecodeTiffDirectory(mapped, section, {}, progress);
        }
    }
    if (!result)
        section.Release(); // nothing half-loaded: an image that could not be read whole is not kept
    return result;
}

/// The georeference of the file's first directory with the size of section.
std::optional<GeoTiffInfo> SizedGeoreference(const DIBSection& section, const std::optional<GeoTiffInfo>& georeference)
{
    if (!georeference || !section.m_pBits)
        return std::nullopt;
    GeoTiffInfo info = *georeference;
    info.m_nRows = section.m_nHeight;
    info.m_nColumns = section.m_nWidth;
    return info;
}

/// The georeference of the file's first directory, when it has a usable one.
std::optional<GeoTiffInfo> FirstGeoreference(const QString& path)
{
    GeoTiffInfo info;
    return ReadGeoTiffInfo(path, info) ? std::optional<GeoTiffInfo>(info) : std::nullopt;
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

/// Every key of the file as it holds it, the raster type (which an export sets itself) left out.
std::vector<GeoKeyValue> ReadGeoKeys(GTIF* gtif)
{
    int versions[3] = {};
    int count = 0;
    GTIFDirectoryInfo(gtif, versions, &count);
    std::vector<GeoKeyValue> keys;
    for (int key = GTModelTypeGeoKey; key <= 0xFFFF && static_cast<int>(keys.size()) < count; ++key) {
        int size = 0;
        tagtype_t type = TYPE_UNKNOWN;
        const int values = GTIFKeyInfo(gtif, static_cast<geokey_t>(key), &size, &type);
        if (values <= 0 || key == GTRasterTypeGeoKey)
            continue;
        GeoKeyValue read;
        read.m_nKey = key;
        if (type == TYPE_ASCII) {
            read.m_Type = GeoKeyValue::Type::Ascii;
            QByteArray text(values + 1, '\0');
            GTIFKeyGet(gtif, static_cast<geokey_t>(key), text.data(), 0, values);
            read.m_Text = text.left(static_cast<qsizetype>(qstrnlen(text.constData(), static_cast<size_t>(values))));
        } else if (type == TYPE_DOUBLE) {
            read.m_Type = GeoKeyValue::Type::Double;
            read.m_Values.resize(static_cast<std::size_t>(values));
            GTIFKeyGet(gtif, static_cast<geokey_t>(key), read.m_Values.data(), 0, values);
        } else if (type == TYPE_SHORT) {
            std::vector<unsigned short> shorts(static_cast<std::size_t>(values));
            GTIFKeyGet(gtif, static_cast<geokey_t>(key), shorts.data(), 0, values);
            read.m_Values.assign(shorts.begin(), shorts.end());
        } else {
            continue;
        }
        keys.push_back(std::move(read));
    }
    return keys;
}

/// Whether libgeotiff can write the system out as a PROJ definition: it prints the projection's
/// parameters, the ellipsoid's axes and the unit's size with "%f" into buffers of a few hundred
/// bytes, which a damaged file's 1e300 overruns (and the C library then ends the process). No
/// system on the earth has such a value near 1e9, in metres, degrees or as a scale.
bool FitsProjDefinition(const GTIFDefn& defn)
{
    const auto fits = [](double value) { return std::isfinite(value) && std::abs(value) < 1e9; };
    return std::all_of(defn.ProjParm, defn.ProjParm + 7, fits) && fits(defn.SemiMajor) && fits(defn.SemiMinor) &&
           fits(defn.UOMLengthInMeters);
}

/// GDAL's reading of the keys as WKT: the GeoTIFF driver's own translation, which keeps what
/// libgeotiff's PROJ text drops. GDAL exports it without a header of its own.
extern "C" char* GTIFGetOGISDefn(GTIF* gtif, GTIFDefn* defn);

QString GdalCrsOfKeys(GTIF* gtif, GTIFDefn& defn)
{
    CPLPushErrorHandler(CPLQuietErrorHandler); // a file's odd keys are no message of ours
    char* wkt = GTIFGetOGISDefn(gtif, &defn);
    CPLPopErrorHandler();
    const QString text = wkt ? QString::fromUtf8(wkt) : QString();
    CPLFree(wkt);
    return text;
}

/// The coordinate system the keys define, as libgeotiff makes it out: the EPSG code of a
/// registered projected system (or, for a map in degrees, geographic one); otherwise the
/// system libgeotiff describes, on the registered geographic system the keys name, if any.
QString CrsOfKeys(GTIF* gtif)
{
    GTIFDefn defn;
    if (!GTIFGetDefn(gtif, &defn) || !defn.DefnSet)
        return {};
    const auto registered = [](int code) { return code > 0 && code != KvUserDefined; };
    if (defn.Model == ModelTypeProjected && registered(defn.PCS))
        return QStringLiteral("EPSG:%1").arg(defn.PCS);
    if (defn.Model == ModelTypeGeographic && registered(defn.GCS))
        return QStringLiteral("EPSG:%1").arg(defn.GCS);
    if ((defn.Model != ModelTypeProjected && defn.Model != ModelTypeGeographic) || !FitsProjDefinition(defn))
        return {};
    char* proj = GTIFGetProj4Defn(&defn);
    const QString definition = proj ? QString::fromLatin1(proj).trimmed() : QString();
    GTIFFreeMemory(proj);
    const std::optional<int> geographic = registered(defn.GCS) ? std::optional<int>(defn.GCS) : std::nullopt;
    return CrsWktOfKeys(definition.isEmpty() ? QString() : CrsWktOfDefinition(definition, geographic),
                        GdalCrsOfKeys(gtif, defn));
}

/// A georeference by a ModelTransformationTag alone (a map turned on its grid, as GDAL writes
/// one): its first two rows are the pixel-to-model affine relation. A file without keys that
/// define its coordinate system gains nothing by it, as there is no zone to read it with.
bool ReadModelTransformation(TIFF* tif, GeoTiffInfo& info)
{
    const std::vector<double> matrix = ReadDoubles(tif, TIFFTAG_GEOTRANSMATRIX);
    if (matrix.size() < 16 || info.m_strCrs.isEmpty())
        return false;
    const std::array<double, 6> gt = {matrix[3], matrix[0], matrix[1], matrix[7], matrix[4], matrix[5]};
    if (!std::all_of(gt.begin(), gt.end(), [](double value) { return std::isfinite(value); }) ||
        gt[1] * gt[5] - gt[2] * gt[4] == 0.0)
        return false;
    info.m_ModelTransformation = gt;
    info.m_dTieX = gt[0];
    info.m_dTieY = gt[3];
    info.m_dScaleX = std::hypot(gt[1], gt[4]);
    info.m_dScaleY = std::hypot(gt[2], gt[5]);
    return true;
}

/// GDAL's NoData text, when the map's pixels keep the sample values it refers to: one or three
/// 8-bit samples of grey or RGB. A palette index, a 16-bit value or a white-is-zero grey
/// means other pixel values once decoded.
QByteArray ReadNoData(TIFF* tif)
{
    std::uint16_t bits = 0, photometric = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if (bits != 8 || (photometric != PHOTOMETRIC_MINISBLACK && photometric != PHOTOMETRIC_RGB))
        return {};
    return ReadText(tif, TIFFTAG_GDAL_NODATA).trimmed();
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

/// The PROJ context libgeotiff looks up the codes a file names in, kept quiet: PROJ would print
/// "datum not found" and the like for a damaged or unusual file straight to standard error.
class QuietProjContext {
public:
    QuietProjContext() : m_pContext(proj_context_create()) { proj_log_level(m_pContext, PJ_LOG_NONE); }
    ~QuietProjContext() { proj_context_destroy(m_pContext); }
    QuietProjContext(const QuietProjContext&) = delete;
    QuietProjContext& operator=(const QuietProjContext&) = delete;
    void AttachTo(GTIF* gtif) const { GTIFAttachPROJContext(gtif, m_pContext); }

private:
    PJ_CONTEXT* m_pContext;
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
    if (directories > static_cast<tdir_t>(kMaxDirectories))
        TiffMessageScope::Report(TiffMessageScope::Kind::Warning,
                                 QStringLiteral("%1 has %2 images; only the first %3 are read.")
                                     .arg(DisplayText(QFileInfo(path).fileName()))
                                     .arg(directories)
                                     .arg(kMaxDirectories));
    DirectoryCursor cursor(file.Handle());
    for (tdir_t i = 0; i < directories && i < static_cast<tdir_t>(kMaxDirectories); ++i) {
        if (!cursor.Seek(static_cast<int>(i)))
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

bool LoadTiffImage(const QString& path, DIBSection& section, int index, const Progress& progress)
{
    TiffMessageScope messages;
    ImportFiles files(path);
    return DecodeDirectory(files, section, index, progress);
}

bool ReadGeoTiffInfo(const QString& path, GeoTiffInfo& info)
{
    TiffMessageScope messages;
    TiffFile file(path);
    if (!file)
        return false;
    const QuietProjContext proj; // outlives the keys, which use it
    const std::unique_ptr<GTIF, GtifFree> gtif(GTIFNewEx(file.Handle(), RouteGeoTiffMessage, nullptr));
    if (!gtif)
        return false;
    proj.AttachTo(gtif.get());

    QByteArray citation = ReadCitationKey(gtif.get());
    if (citation.isEmpty())
        citation = ReadText(file.Handle(), TIFFTAG_GEOASCIIPARAMS);
    if (!citation.isEmpty())
        ApplyCitation(citation, info);
    info.m_strCrs = CrsOfKeys(gtif.get());
    info.m_GeoKeys = info.m_strCrs.isEmpty() ? std::vector<GeoKeyValue>{} : ReadGeoKeys(gtif.get());
    info.m_NoData = ReadNoData(file.Handle());

    // The raster type read only as the short it must be: a damaged file's key may claim more.
    int size = 0;
    tagtype_t type = TYPE_UNKNOWN;
    unsigned short rasterType = RasterPixelIsArea;
    if (GTIFKeyInfo(gtif.get(), GTRasterTypeGeoKey, &size, &type) == 1 && type == TYPE_SHORT &&
        size == int(sizeof rasterType) && GTIFKeyGet(gtif.get(), GTRasterTypeGeoKey, &rasterType, 0, 1) == 1 &&
        rasterType == RasterPixelIsPoint)
        info.m_dTieColumn = info.m_dTieRow = 0.5;
    const std::vector<double> tiePoint = ReadDoubles(file.Handle(), TIFFTAG_GEOTIEPOINTS);
    if (tiePoint.size() < 6)
        return ReadModelTransformation(file.Handle(), info);
    info.m_dTieX = tiePoint[3];
    info.m_dTieY = tiePoint[4];
    info.m_dTieColumn += tiePoint[0];
    info.m_dTieRow += tiePoint[1];
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
    if (directories.empty())
        return {{}, messages.Messages()};

    // One pass over the file's directories for all the work that follows.
    ImportFiles files(path);

    // Before any image is decoded: the images whose data the file cannot hold are left out (and
    // reported), and the memory of all the others together is checked at once, so that a map
    // too large for the machine is refused up front instead of after minutes of decoding.
    std::vector<TIFFSubImage> plausible;
    // The sections stay while the next is decoded: the peak is the most that the sections so far
    // and one decoding's working memory take together.
    std::int64_t sections = 0, needed = 0;
    for (const TIFFSubImage& directory : directories) {
        if (!files.m_File || (limit >= 0 && static_cast<int>(plausible.size()) >= limit))
            break;
        if (!files.m_Cursor.Seek(directory.m_nDirectory))
            continue;
        const DirectorySize size{directory.m_nWidth, directory.m_nHeight};
        if (const std::optional<QString> refusal = DirectoryDataRefusal(files.m_File, path, directory.m_nDirectory, size)) {
            TiffMessageScope::Report(TiffMessageScope::Kind::Error, *refusal);
            continue;
        }
        plausible.push_back(directory);
        sections += SectionBytes(size);
        needed = std::max(needed, sections + TiffDecodeWorkingBytes(files.m_File.Handle(), files.m_File.FileSize()));
    }
    if (const std::optional<QString> refusal = CheckMemory(needed)) {
        TiffMessageScope::Report(TiffMessageScope::Kind::Error, *refusal);
        return {{}, messages.Messages()};
    }

    // Each listed directory is decoded by its own index, so a file with an unreadable directory
    // among readable ones still yields every picture it has; all carry the first one's
    // georeference.
    const std::optional<GeoTiffInfo> georeference = FirstGeoreference(path);
    // Progress goes by pixels: a map's first image usually dwarfs its overviews.
    double total = 0.0;
    for (const TIFFSubImage& directory : plausible)
        total += double(directory.m_nWidth) * directory.m_nHeight;
    double done = 0.0;
    std::vector<ImportedTiffImage> images;
    for (const TIFFSubImage& directory : plausible) {
        const double pixels = double(directory.m_nWidth) * directory.m_nHeight;
        ImportedTiffImage imported{directory, {}, std::nullopt};
        const bool decoded = DecodeDirectory(files, imported.m_Image, directory.m_nDirectory,
                                             progress.Part(done / total, (done + pixels) / total));
        if (progress.Cancelled()) {
            TiffImport cancelled;
            cancelled.m_bCancelled = true;
            return cancelled;
        }
        done += pixels;
        if (decoded) {
            imported.m_Georeference = SizedGeoreference(imported.m_Image, georeference);
            images.push_back(std::move(imported));
        }
    }
    return {std::move(images), messages.Messages(), false};
}

std::optional<GeoTiffInfo> TiffImport::MapGeoreference() const
{
    return m_Images.empty() ? std::nullopt : m_Images.front().m_Georeference;
}

std::vector<DIBSection> TiffImport::TakeImages()
{
    std::vector<DIBSection> images;
    images.reserve(m_Images.size());
    for (ImportedTiffImage& imported : m_Images)
        images.push_back(std::move(imported.m_Image));
    return images;
}
