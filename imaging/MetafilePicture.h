#pragma once

#include "imaging/IPicture.h"
#include "imaging/PictureService.h"
#include "imaging/WmfRenderer.h"

#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QSizeF>

#include <memory>

class QTransform;

/// A Windows metafile (EMF or WMF) held by the picture service. The metafile is kept as its
/// bytes and played onto the painter each time it is drawn, scaled so that its frame fills the
/// target rectangle; it saves as a 24-bit BMP rendering.
///
/// Size: an EMF's is its rclFrame (right - left by bottom - top, in HIMETRIC); a placeable
/// WMF's its bounds at the header's units per inch; a plain WMF's the window its first records
/// set, or else the box of what it draws, in logical units taken as 96 dpi pixels. Pictures
/// whose pixel size at 96 dpi is 0 or beyond kMaxPixelsPerSide / kMaxPixels are refused, so
/// that no header can make a rendering allocate without bound.
class MetafilePicture final : public IPicture {
public:
    static constexpr int kMaxPixelsPerSide = 32767;
    static constexpr std::int64_t kMaxPixels = std::int64_t(64) * 1024 * 1024;

    /// Reads the metafile's header (format Emf or Wmf). Null when the bytes are no metafile of
    /// that kind or its size is refused (see above).
    static std::unique_ptr<MetafilePicture> Load(const QByteArray& bytes, PictureFormat format);

    QSize HimetricSize() const override { return m_Himetric; }
    /// Plays the records with the HIMETRIC source rectangle mapped onto dest and the drawing
    /// clipped to dest. An empty source or destination draws nothing and is no failure.
    bool Render(QPainter& painter, const QRect& dest, int xSrc, int ySrc, int cxSrc, int cySrc) const override;
    /// A 24-bit BMP file of ToImage().
    QByteArray SaveAsBmp() const override;

    /// The whole picture drawn onto white at its pixel size (HIMETRIC at 96 dpi, rounded).
    QImage ToImage() const;
    /// The picture's pixel size at 96 dpi.
    QSize PixelSize() const;
    PictureFormat Format() const { return m_Format; }
    /// The picture's rectangle in the metafile's device units: reference-device pixels for an
    /// EMF, the frame's logical units for a WMF.
    QRectF DeviceFrame() const { return m_DeviceFrame; }
    /// Plays every record with the given device-to-target transform; false when a broken
    /// record ended the playing early (what came before is drawn). With painter null the
    /// records are only measured.
    bool Play(QPainter* painter, const QTransform& deviceToTarget) const;

private:
    MetafilePicture() = default;

    QByteArray m_Bytes;
    PictureFormat m_Format = PictureFormat::Unknown;
    QSize m_Himetric;
    QRectF m_DeviceFrame;
    QSizeF m_DevicePerMillimetre;
    WmfHeader m_WmfHeader;
};
