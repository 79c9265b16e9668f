#pragma once

#include "platform/Progress.h"

#include <cstdint>

typedef struct tiff TIFF;
class DIBSection;

/// How much working memory the decoder may use besides the section it fills.
struct TiffDecodeLimits {
    /// Strips whose decoded size is larger than this are read scanline by scanline.
    std::int64_t m_nMaxStripBytes = std::int64_t(16) << 20;
    /// Target size of one band of 32-bit pixels in the general path (at least one strip or one
    /// row of tiles is always read at a time).
    std::int64_t m_nBandBytes = std::int64_t(4) << 20;
};

/// Decodes the current directory of tif into section, which must already be a 24-bit section of
/// the directory's size with zeroed pixel memory (as DIBSection::Create makes it).
///
/// The pixels are those of libtiff's whole-image RGBA reader (TIFFReadRGBAImage, not stopping on
/// errors), every value of an opaque pixel kept as it is. A pixel with alpha below 255 lies on
/// black: the reader's colour, which it has already multiplied by alpha (held to alpha where
/// damaged associated data exceeds it), so alpha 0 gives black. Rows end up upright in the
/// bottom-up section; padding columns are not touched. Only a strip, a row of tiles or a band of rows is held at a time:
/// plain 8-bit RGB (or JPEG YCbCr) and greyscale data of 1, 2, 4 or 8 bits (fax pages among
/// them, read line by line when a strip is large) are converted straight from the decoded
/// samples, everything else goes through libtiff's RGBA interface band by band. The
/// pixel memory of a large section is committed in one call (in huge pages where available)
/// before it is filled, instead of page fault by page fault.
///
/// Decoding stops at the first strip or tile that cannot be read, or after which libtiff has
/// reported an error to the open TiffMessageScope (some codecs go on past damage). Returns true
/// when every strip or tile was read without error; false when one could not be (the section then holds part of
/// the image and is not to be kept) or the pixel format is one libtiff cannot convert. libtiff
/// reports each problem through the file's message handlers.
///
/// Reports to progress after each strip, row of tiles or band, and stops there, returning false,
/// when it is cancelled.
bool DecodeTiffDirectory(TIFF* tif, DIBSection& section, const TiffDecodeLimits& limits = {},
                         const Progress& progress = {});

/// The most memory DecodeTiffDirectory takes for the current directory of tif besides the section
/// it fills, with the same limits: its own strip, tile, line or band buffer, the decoded strip or
/// tiles libtiff's RGBA reader holds, the largest strip or tile as libtiff reads it from a file
/// of fileBytes, and what libtiff's codecs keep. The section and this are the decoding's peak.
std::int64_t TiffDecodeWorkingBytes(TIFF* tif, std::int64_t fileBytes, const TiffDecodeLimits& limits = {});

/// Whether DecodeTiffDirectory converts the current directory straight from its samples. The
/// other layouts go through libtiff's RGBA reader, which should be given a memory-mapped file
/// (TiffFile::Access::Mapped): on plainly read files it rejects uncompressed tiles.
bool TiffDecodesDirectly(TIFF* tif);
