#pragma once
// The picture service: decodes picture-file bytes into an IPicture. The kind of picture is
// decided by the content, never by a file name.

#include "imaging/IPicture.h"

#include <QByteArray>

#include <memory>

enum class PictureFormat { Unknown, Bmp, Dib, Gif, Ico, Jpeg, Emf, Wmf };

/// What kind of picture file the bytes hold, judged from their first bytes.
PictureFormat SniffPictureFormat(const QByteArray& data);

/// Decodes a picture file held in memory. Null when the bytes are no picture the service reads
/// or cannot be decoded.
std::unique_ptr<IPicture> LoadPicture(const QByteArray& data);
