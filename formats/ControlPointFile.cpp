#include "formats/ControlPointFile.h"

#include "geo/MapCrs.h"

#include <QList>
#include <QLocale>

#include <cmath>

namespace {

QString NoPointsText()
{
    return QStringLiteral("the file holds no control points");
}

/// A bad field is quoted at most this long in a message.
constexpr qsizetype kQuotedLength = 80;

/// The shortest text that reads back as value: 12.34 stays 12.34, not 12.339999999999998.
QByteArray Number(double value)
{
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

/// text as it may be shown: printable, and cut short when long.
QString Quoted(const QByteArray& text)
{
    QString shown;
    for (const char c : text.left(kQuotedLength))
        shown += (c >= 32 && c < 127) ? QChar::fromLatin1(c) : QChar(u'?');
    if (text.size() > kQuotedLength)
        shown += QStringLiteral("...");
    return shown;
}

std::optional<double> Field(const QByteArray& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

QList<QByteArray> Fields(const QByteArray& line)
{
    QList<QByteArray> fields = line.split(',');
    for (QByteArray& field : fields)
        field = field.trimmed();
    return fields;
}

/// One row's four numbers as a control point of a width x height picture: a CSV row in degrees
/// and frame units, a QGIS row in map coordinates (of crs, unless geographic or unsaid) and
/// pixels with rows counted upward from the top edge. Nothing, with the reason in why, for map
/// coordinates PROJ cannot convert or that are no latitude and longitude.
std::optional<CDataGeo> PointOfRow(const double (&v)[4], bool csv, const QString& crs,
                                   const std::optional<bool>& geographic, int width, int height, QString& why)
{
    double latitude = 0, longitude = 0, column = 0, row = 0;
    if (csv) {
        const CDataGeo place = CDataGeo::FromDegrees(v[0], v[1], v[2], v[3]);
        latitude = v[0];
        longitude = v[1];
        column = place.PixelColumn(width);
        row = place.PixelRow(height);
    } else {
        column = v[2];
        row = -v[3];
        if (geographic.value_or(true)) {
            longitude = v[0];
            latitude = v[1];
        } else {
            const std::optional<GeoPosition> position = ToWgs84(crs, v[0], v[1], &why);
            if (!position)
                return std::nullopt;
            latitude = position->m_dLatitude;
            longitude = position->m_dLongitude;
        }
    }
    if (std::fabs(latitude) > 90 || std::fabs(longitude) > 180) {
        why = QStringLiteral("%1, %2 is not a latitude and longitude").arg(latitude).arg(longitude);
        return std::nullopt;
    }
    return CDataGeo::FromPixel(latitude, longitude, column, row, width, height);
}

} // namespace

QByteArray EncodeQgisPoints(const QString& crsWkt2, const std::vector<ExchangedPoint>& points)
{
    QByteArray file = "#CRS: " + crsWkt2.toUtf8() + '\n';
    file += "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual\n";
    for (const ExchangedPoint& p : points) {
        // QGIS counts source rows upward from the top edge, so they are negative, and its dY
        // runs the same way.
        file += Number(p.m_dLongitude) + ',' + Number(p.m_dLatitude) + ',' + Number(p.m_dColumn) + ',' +
                Number(-p.m_dRow) + ",1," + Number(p.m_dDx) + ',' + Number(-p.m_dDy) + ',' +
                Number(std::hypot(p.m_dDx, p.m_dDy)) + '\n';
    }
    return file;
}

QByteArray EncodePointsCsv(const std::vector<ExchangedPoint>& points, int width, int height)
{
    QByteArray file = "latitude,longitude,x,y\n";
    for (const ExchangedPoint& p : points) {
        const CDataGeo place = CDataGeo::FromPixel(p.m_dLatitude, p.m_dLongitude, p.m_dColumn, p.m_dRow, width, height);
        file += Number(p.m_dLatitude) + ',' + Number(p.m_dLongitude) + ',' + Number(place.m_dImageX) + ',' +
                Number(place.m_dImageY) + '\n';
    }
    return file;
}

Parsed<std::vector<CDataGeo>> ParseControlPoints(const QByteArray& file, int width, int height)
{
    const auto refuse = [](int line, const QString& why) {
        return Parsed<std::vector<CDataGeo>>::Refused(line > 0 ? QStringLiteral("Line %1: %2").arg(line).arg(why) : why);
    };
    if (width <= 0 || height <= 0)
        return refuse(0, QStringLiteral("the map has no size to place the points on"));
    QList<QByteArray> lines = file.split('\n');
    int number = 0;
    // The coordinate system of a QGIS file, when it says.
    QString crs;
    const auto next = [&]() -> std::optional<QByteArray> {
        while (number < lines.size()) {
            QByteArray line = lines[number++];
            if (line.endsWith('\r'))
                line.chop(1);
            if (!line.trimmed().isEmpty())
                return line;
        }
        return std::nullopt;
    };
    std::optional<QByteArray> header = next();
    if (!header)
        return refuse(0, NoPointsText());
    if (header->startsWith("#CRS:")) {
        crs = QString::fromUtf8(header->mid(5).trimmed());
        header = next();
        if (!header)
            return refuse(0, NoPointsText());
    }
    const QList<QByteArray> names = Fields(*header);
    const bool qgis = names.size() >= 4 && names[0] == "mapX" && names[1] == "mapY" &&
                      ((names[2] == "sourceX" && names[3] == "sourceY") || (names[2] == "pixelX" && names[3] == "pixelY"));
    const bool csv = names == QList<QByteArray>{"latitude", "longitude", "x", "y"};
    if (!qgis && !csv)
        return refuse(number, QStringLiteral("\"%1\" is neither a QGIS points header (mapX,mapY,sourceX,sourceY,...) "
                                             "nor latitude,longitude,x,y")
                                  .arg(Quoted(*header)));
    const qsizetype enableColumn = names.indexOf("enable");
    std::optional<bool> geographic;
    if (qgis && !crs.isEmpty()) {
        geographic = IsGeographicCrs(crs);
        if (!geographic)
            return refuse(1, UnknownCrsText());
    }

    std::vector<CDataGeo> points;
    bool disabled = false;
    while (const std::optional<QByteArray> line = next()) {
        const QList<QByteArray> fields = Fields(*line);
        if (fields.size() < 4 || (csv && fields.size() != 4))
            return refuse(number, QStringLiteral("expected %1 fields, found %2").arg(csv ? 4 : names.size()).arg(fields.size()));
        double v[4] = {};
        for (int k = 0; k < 4; ++k) {
            const std::optional<double> value = Field(fields[k]);
            if (!value)
                return refuse(number, QStringLiteral("\"%1\" is not a number").arg(Quoted(fields[k])));
            v[k] = *value;
        }
        if (qgis && enableColumn >= 0 && enableColumn < fields.size()) {
            const std::optional<double> enable = Field(fields[enableColumn]);
            if (!enable)
                return refuse(number, QStringLiteral("\"%1\" is not a number").arg(Quoted(fields[enableColumn])));
            if (*enable == 0) {
                disabled = true;
                continue;
            }
        }
        QString why;
        const std::optional<CDataGeo> point = PointOfRow(v, csv, crs, geographic, width, height, why);
        if (!point)
            return refuse(number, why);
        points.push_back(*point);
    }
    // A header alone places nothing, like an empty file.
    if (points.empty())
        return refuse(0, disabled ? QStringLiteral("every control point of the file is disabled")
                                  : NoPointsText());
    return points;
}
