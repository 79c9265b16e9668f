#pragma once

#include <QString>

#include <cstdint>

typedef struct tiff TIFF;

/// A regular TIFF file opened for reading whose libtiff messages go to the open TiffMessageScope
/// instead of standard error, each as a sentence in Varnel's words with libtiff's text as its
/// detail; those that only say libtiff read on past a directory entry the import does not rely on
/// are dropped. The GeoTIFF tags are registered with libtiff before the file is
/// opened (as libgeotiff's own open does), so their values read as typed numbers and text and
/// the file opens without warnings about them. Closes the file on destruction.
class TiffFile {
public:
    /// How libtiff reaches the file's bytes: with plain reads (so that decoding a large map does
    /// not also map the whole file into the process), or through a memory mapping, which
    /// libtiff's RGBA reader needs for some layouts (it rejects plainly read uncompressed tiles).
    enum class Access { Read, Mapped };

    /// Opens path; a path that names no regular file (a folder, a FIFO, a device) is refused
    /// without waiting on it, and why is reported to the open TiffMessageScope.
    explicit TiffFile(const QString& path, Access access = Access::Read);
    ~TiffFile();
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;

    /// The libtiff handle, null when the file could not be opened (libtiff has reported why).
    TIFF* Handle() const { return m_pTiff; }
    explicit operator bool() const { return m_pTiff != nullptr; }
    /// The file's length in bytes when it was opened.
    std::int64_t FileSize() const { return m_nFileSize; }

private:
    TIFF* m_pTiff = nullptr;
    std::int64_t m_nFileSize = 0;
};
