#pragma once
// World files: the six numbers that tie a picture beside them to map coordinates, as GIS tools
// read them (ESRI's convention: the centre of the top-left pixel).

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

/// The six lines of a world file for a GDAL geotransform: GT1, GT4, GT2, GT5, then the map
/// coordinates of the centre of the top-left pixel (GT0 + GT1/2 + GT2/2, GT3 + GT4/2 + GT5/2),
/// each with 17 significant digits.
QByteArray WorldFileText(const std::array<double, 6>& geoTransform);
/// The geotransform a world file's six numbers give; nothing for text that is not one.
std::optional<std::array<double, 6>> ParseWorldFile(const QByteArray& text);
/// The world-file extension that goes with a picture's: .jgw for .jpg, .pgw for .png, .tfw for
/// .tif, .bpw for .bmp, .gfw for .gif; .wld for any other.
QString WorldFileExtension(const QString& picturePath);
