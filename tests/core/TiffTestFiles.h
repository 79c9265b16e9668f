#pragma once
// Helpers of the TIFF import tests: TIFF files written at test time (with libtiff, libgeotiff or
// byte by byte), an independent reader of classic TIFF directories, and the reference decode
// that the import must match (libtiff's whole-image RGBA read and the premultiplying conversion).

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

class DIBSection;

/// What to write with libtiff. Sample values come from m_Sample(x, y, sample).
struct TiffContent {
    int m_nWidth = 8;
    int m_nHeight = 6;
    int m_nSamples = 3;
    int m_nBits = 8;
    int m_nPhotometric = 2;   ///< PHOTOMETRIC_RGB
    int m_nPlanar = 1;        ///< PLANARCONFIG_CONTIG
    int m_nCompression = 1;   ///< COMPRESSION_NONE
    int m_nOrientation = 1;   ///< ORIENTATION_TOPLEFT
    int m_nRowsPerStrip = 0;  ///< 0: the whole picture in one strip
    int m_nTileWidth = 0;     ///< non-zero: tiled, with m_nTileLength
    int m_nTileLength = 0;
    int m_nPredictor = 0;     ///< 0: none set
    std::vector<std::uint16_t> m_ExtraSamples;
    bool m_bJpegYCbCr = false; ///< JPEG data stored as YCbCr (written from RGB samples)
    std::function<std::uint16_t(int x, int y, int sample)> m_Sample;
};

/// Writes one or more directories with libtiff; returns false when libtiff refused.
bool WriteTiff(const QString& path, const std::vector<TiffContent>& directories);

/// A small 8-bit RGB GeoTIFF written with libgeotiff: the citation as GTCitationGeoKey (as
/// GeogCitationGeoKey when geographicCitation is set; empty: none), the GeoAsciiParamsTag text
/// given directly when asciiOnly is not empty (then no key directory is written), a tie point
/// unless tiePoint is empty, a pixel scale unless empty.
bool WriteGeoTiff(const QString& path, const QByteArray& citation, const std::vector<double>& tiePoint,
                  const std::vector<double>& pixelScale, const QByteArray& asciiOnly = {},
                  bool geographicCitation = false);

/// A classic little-endian TIFF assembled byte by byte, its directories first and all pixel data
/// after them, so that any directory (even one libtiff would not write) can be made and cutting
/// the file short loses pixel data but no directory.
class TiffBytes {
public:
    /// Adds an 8-bit one-sample directory of the given size whose pixel bytes are given per strip.
    void AddGreyDirectory(std::uint32_t width, std::uint32_t height, std::uint32_t rowsPerStrip,
                          const std::vector<QByteArray>& strips);
    /// Adds one SHORT value to the last directory (for tags libtiff does not know).
    void AddShort(std::uint16_t tag, std::uint16_t value);
    /// Writes the last directory's entries in descending tag order, against the rule.
    void Unsort() { m_Directories.back().m_bUnsorted = true; }
    QByteArray Build() const;

private:
    struct Entry {
        std::uint16_t m_nTag;
        std::uint16_t m_nType; // 3 SHORT, 4 LONG
        std::vector<std::uint32_t> m_Values;
        bool m_bStripOffsets = false;
    };
    struct Directory {
        std::vector<Entry> m_Entries;
        std::vector<QByteArray> m_Strips;
        bool m_bUnsorted = false;
    };
    std::vector<Directory> m_Directories;
};

/// The directories of a classic little-endian TIFF read straight from its bytes, without libtiff.
class RawTiff {
public:
    struct Field {
        std::uint16_t m_nType = 0;
        std::uint32_t m_nCount = 0;
        QByteArray m_Bytes; ///< the values' bytes
    };
    using Directory = std::map<std::uint16_t, Field>;

    explicit RawTiff(const QByteArray& bytes);
    const std::vector<Directory>& Directories() const { return m_Directories; }
    bool Valid() const { return m_bValid; }

    static std::vector<double> Doubles(const Directory& directory, std::uint16_t tag);
    static std::vector<std::uint32_t> Numbers(const Directory& directory, std::uint16_t tag);
    static QByteArray Text(const Directory& directory, std::uint16_t tag);

private:
    std::vector<Directory> m_Directories;
    bool m_bValid = false;
};

/// A decoded picture as the import must produce it: rows top-down, width * 3 bytes each, in
/// blue, green, red order.
struct ReferencePicture {
    int m_nWidth = 0;
    int m_nHeight = 0;
    bool m_bRead = false; ///< TIFFReadRGBAImage succeeded
    std::vector<std::uint8_t> m_Bgr;

    const std::uint8_t* Row(int y) const { return m_Bgr.data() + std::size_t(y) * m_nWidth * 3; }
};

/// libtiff's whole-image TIFFReadRGBAImage (not stopping on errors) of one directory, converted
/// with new B = min(B, A) (libtiff's colour is multiplied by alpha already) and likewise for G and
/// R. All black when the read fails.
ReferencePicture ReferenceDecode(const QString& path, int directory);

/// Empty when section holds exactly the reference picture (upright in its bottom-up rows) with
/// zero padding columns; otherwise a description of the first difference.
std::string CompareWithReference(const DIBSection& section, const ReferencePicture& reference);
