// Fuzz target for the metafile reader and player: every input is read as an enhanced and as a
// 16-bit metafile, and whatever loads is drawn whole and in part into a small image. Building
// and running it: see fuzz/README.md.

#include "FuzzHarness.h"

#include "imaging/MetafilePicture.h"
#include "imaging/PictureService.h"

#include <QImage>
#include <QPainter>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = FuzzBytes(data, size);
    for (PictureFormat format : {PictureFormat::Emf, PictureFormat::Wmf}) {
        const std::unique_ptr<MetafilePicture> picture = MetafilePicture::Load(bytes, format);
        if (!picture)
            continue;
        const QSize himetric = picture->HimetricSize();
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        picture->Render(painter, QRect(0, 0, 64, 48), 0, himetric.height(), himetric.width(), -himetric.height());
        picture->Render(painter, QRect(8, 8, 40, 30), himetric.width() / 4, himetric.height() * 3 / 4,
                        himetric.width() / 2, -himetric.height() / 2);
        painter.end();
        // Saving renders at the picture's own size: only for small pictures, to keep runs fast.
        const QSize pixels = picture->PixelSize();
        if (std::int64_t(pixels.width()) * pixels.height() <= 256 * 256)
            (void)picture->SaveAsBmp();
    }
    FuzzProcessEvents();
    return 0;
}
