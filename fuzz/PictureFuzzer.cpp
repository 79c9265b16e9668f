// Fuzz target for the picture service over the raster formats (BMP, DIB, GIF, ICO, JPEG; the
// metafiles have their own target): the content decides the reader, as for a map file. What
// loads is drawn whole and in part into a small image, and small pictures are saved as BMP.

#include "FuzzHarness.h"

#include "imaging/CPicture.h"
#include "imaging/PictureService.h"

#include <QImage>
#include <QPainter>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = FuzzBytes(data, size);
    const PictureFormat format = SniffPictureFormat(bytes);
    if (format == PictureFormat::Emf || format == PictureFormat::Wmf)
        return 0;
    CPicture picture;
    picture.LoadFromMemory(bytes);
    if (!picture.m_pPicture)
        return 0;
    const QSize himetric = picture.m_pPicture->HimetricSize();
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        picture.Draw(&painter, QRect(0, 0, 64, 48));
        picture.DrawPart(&painter, QRect(8, 8, 40, 30), 0.25, 0.75, 0.2, 0.9);
    }
    if (std::int64_t(himetric.width()) * himetric.height() <= std::int64_t(2000) * 2000)
        (void)picture.m_pPicture->SaveAsBmp();
    return 0;
}
