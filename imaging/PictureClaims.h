#pragma once
// What a raster picture file claims about its size, checked against the bytes it holds and the
// memory the machine can give before the picture service decodes it: a 6 KB JPEG must not
// reserve gigabytes because its header says 30000 x 30000.

#include "imaging/PictureService.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <optional>

/// Why a BMP file (with its file header), GIF, ICO or JPEG file is not decoded: its header
/// declares more pixels than its data can describe (uncompressed rows missing, fewer bits of
/// JPEG data than the image has 8 x 8 blocks, a run-length, GIF or ICO picture larger than its
/// bytes could spell out at the best ratio their coders reach), or decoding it needs more memory
/// than is available. Nothing when the picture may be decoded, also when the header cannot be
/// read (the decoder then refuses the file itself).
std::optional<QString> RasterPictureRefusal(const QByteArray& data, PictureFormat format);

/// Why a map size stored beside a picture (by a workspace or a CPF) cannot be the size the
/// picture was worked on at, its own pixel size being own: a file made where the screen had
/// another resolution holds another size, but never eight times the picture's own, and that
/// size drives the view's and the output's memory. Nothing when the size may stand.
std::optional<QString> StoredSizeMismatch(QSize own, std::int64_t width, std::int64_t height);
