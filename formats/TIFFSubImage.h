#pragma once

#include <QString>

/// One usable directory of a TIFF file, as listed by the TIFF scan of an import.
struct TIFFSubImage {
    int m_nWidth = 0;         ///< pixels
    int m_nHeight = 0;        ///< pixels
    int m_nDirectory = 0;     ///< 0-based directory index
    int m_nBitsPerSample = 0; ///< 0 when the tag is absent
    QString m_strName;        ///< "image%d" with the directory index
};
