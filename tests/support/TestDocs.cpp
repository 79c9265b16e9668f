#include "TestDocs.h"

#include "imaging/BmpEncoding.h"

#include <QImage>

#include <algorithm>

QByteArray MakeBmpFile(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return EncodeBmp24(image);
}

void LoadPictureMap(CQuilletDoc& doc, int width, int height, MapKind mapType, const QString& path)
{
    // A small picture standing for one of the size given: only the size matters to the tests
    // that use this, and a real map of thousands of pixels would cost them time.
    const QByteArray bytes = MakeBmpFile(std::min(width, 64), std::min(height, 64));
    CPicture picture;
    picture.LoadFromMemory(bytes);
    picture.m_nWidth = width;
    picture.m_nHeight = height;
    picture.m_nByteSize = static_cast<int>(bytes.size());
    doc.InstallPictureMap(path, mapType, std::move(picture), bytes);
    doc.MarkSaved();
}

void LoadDegreeTiffMap(CQuilletDoc& doc, int width, int height, const CDataGeo& origin, const CDataGeo& extent)
{
    DIBSection image;
    image.Create(24, width, height);
    // Scales of 0.01 model units per pixel or less are degrees: the frame as it stands.
    GeoTiffInfo info;
    info.m_dTieX = origin.m_dLongitude;
    info.m_dTieY = origin.m_dLatitude + extent.m_dLatitude;
    info.m_dScaleX = extent.m_dLongitude / width;
    info.m_dScaleY = extent.m_dLatitude / height;
    std::vector<DIBSection> images;
    images.push_back(std::move(image));
    doc.InstallTiffMap(QStringLiteral("/maps/degrees.tif"), MapKind::Tif, std::move(images), info);
}

void SetPointsAndModel(CQuilletDoc& doc, const std::vector<CDataGeo>& points, bool geoCoded,
                       const GeoCoefficients& coefficients)
{
    doc.RestorePoints({points, geoCoded ? 1 : 0, coefficients, std::nullopt});
}
