#pragma once
// The picture service: decodes picture-file bytes into an IPicture. The kind of picture is
// decided by the content, never by a file name.

#include "imaging/IPicture.h"

#include <QByteArray>
#include <QSize>

#include <memory>
#include <optional>

enum class PictureFormat { Unknown, Bmp, Dib, Gif, Ico, Jpeg, Emf, Wmf };

/// What kind of picture file the bytes hold, judged from their first bytes.
PictureFormat SniffPictureFormat(const QByteArray& data);

/// Decodes a picture file held in memory. Null when the bytes are no picture the service reads
/// or cannot be decoded. A raster picture whose header claims more pixels than its data can
/// describe, or more than the memory available can hold, is not decoded at all; refusal (when
/// given) then receives the message saying why. So it does when the library that decodes the
/// picture (libjpeg, libpng) said why it could not: in Varnel's words, with its text as the
/// detail. The libraries' warnings are never shown.
std::unique_ptr<IPicture> LoadPicture(const QByteArray& data, QString* refusal = nullptr);

/// The pixel size of the picture the bytes hold, as its header gives it, without decoding its
/// pixels. Nothing when the bytes are no picture the service reads or their header cannot be read.
std::optional<QSize> PictureFileSize(const QByteArray& data);
