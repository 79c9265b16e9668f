#pragma once
// What a raster picture file claims about its size, checked against the bytes it holds and the
// memory the machine can give before the picture service decodes it: a 6 KB JPEG must not
// reserve gigabytes because its header says 30000 x 30000.

#include "imaging/PictureService.h"

#include <QByteArray>
#include <QString>

#include <optional>

/// Why a BMP file (with its file header), GIF, ICO or JPEG file is not decoded: its header
/// declares more pixels than its data can describe (uncompressed rows missing, fewer bits of
/// JPEG data than the image has 8 x 8 blocks, a run-length, GIF or ICO picture larger than its
/// bytes could spell out at the best ratio their coders reach), or decoding it needs more memory
/// than is available. Nothing when the picture may be decoded, also when the header cannot be
/// read (the decoder then refuses the file itself).
std::optional<QString> RasterPictureRefusal(const QByteArray& data, PictureFormat format);
