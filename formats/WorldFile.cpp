#include "formats/WorldFile.h"

#include <QFileInfo>
#include <QList>

#include <cmath>
#include <optional>

QByteArray WorldFileText(const std::array<double, 6>& gt)
{
    const double centreX = gt[0] + gt[1] / 2 + gt[2] / 2;
    const double centreY = gt[3] + gt[4] / 2 + gt[5] / 2;
    QByteArray text;
    for (const double value : {gt[1], gt[4], gt[2], gt[5], centreX, centreY})
        text += QByteArray::number(value, 'g', 17) + '\n';
    return text;
}

std::optional<std::array<double, 6>> ParseWorldFile(const QByteArray& text)
{
    const QList<QByteArray> lines = text.trimmed().split('\n');
    if (lines.size() != 6)
        return std::nullopt;
    double v[6] = {};
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        v[i] = lines[i].trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(v[i]))
            return std::nullopt;
    }
    // Lines: A (GT1), D (GT4), B (GT2), E (GT5), C and F at the centre of the top-left pixel.
    const double gt1 = v[0], gt4 = v[1], gt2 = v[2], gt5 = v[3];
    return std::array<double, 6>{v[4] - gt1 / 2 - gt2 / 2, gt1, gt2, v[5] - gt4 / 2 - gt5 / 2, gt4, gt5};
}

QString WorldFileExtension(const QString& picturePath)
{
    const QString suffix = QFileInfo(picturePath).suffix().toLower();
    if (suffix == QStringLiteral("jpg") || suffix == QStringLiteral("jpeg"))
        return QStringLiteral(".jgw");
    if (suffix == QStringLiteral("png"))
        return QStringLiteral(".pgw");
    if (suffix == QStringLiteral("tif") || suffix == QStringLiteral("tiff"))
        return QStringLiteral(".tfw");
    if (suffix == QStringLiteral("bmp"))
        return QStringLiteral(".bpw");
    if (suffix == QStringLiteral("gif"))
        return QStringLiteral(".gfw");
    return QStringLiteral(".wld");
}
