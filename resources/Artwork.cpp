#include "resources/Artwork.h"

#include "platform/Version.h"
#include "resources/Resource.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <iterator>

namespace {

const QColor kInk(40, 40, 48);
const QColor kMapBlue(38, 110, 190);
const QColor kLand(214, 196, 140);
const QColor kMarker(210, 30, 40);
const QColor kPaper(250, 250, 245);

void DrawMagnifier(QPainter& p, bool plus)
{
    p.setPen(QPen(kInk, 1.5));
    p.setBrush(QColor(200, 225, 250));
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    p.setPen(QPen(kInk, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(9.5, 9.5), QPointF(14, 13.5));
    p.setPen(QPen(kInk, 1.2));
    p.drawLine(QPointF(3.5, 6), QPointF(8.5, 6));
    if (plus)
        p.drawLine(QPointF(6, 3.5), QPointF(6, 8.5));
}

void DrawPointMarker(QPainter& p, QPointF centre, const QColor& colour)
{
    p.setPen(QPen(colour, 1.3));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, 3.0, 3.0);
    p.drawLine(centre - QPointF(5, 0), centre + QPointF(5, 0));
    p.drawLine(centre - QPointF(0, 5), centre + QPointF(0, 5));
}

void DrawPage(QPainter& p)
{
    p.setPen(QPen(kInk, 1));
    p.setBrush(kPaper);
    QPolygonF page;
    page << QPointF(3.5, 1.5) << QPointF(10.5, 1.5) << QPointF(13.5, 4.5) << QPointF(13.5, 13.5) << QPointF(3.5, 13.5);
    p.drawPolygon(page);
    p.drawLine(QPointF(10.5, 1.5), QPointF(10.5, 4.5));
    p.drawLine(QPointF(10.5, 4.5), QPointF(13.5, 4.5));
}

/// A blank map sheet.
void DrawNewButton(QPainter& p)
{
    DrawPage(p);
    p.setPen(QPen(kMapBlue, 1));
    p.drawLine(QPointF(5, 9), QPointF(12, 7));
}

/// A folder.
void DrawOpenButton(QPainter& p)
{
    p.setPen(QPen(kInk, 1));
    p.setBrush(QColor(240, 200, 90));
    p.drawRect(QRectF(1.5, 4.5, 13, 9));
    p.drawRect(QRectF(1.5, 2.5, 5, 2));
}

/// A diskette.
void DrawSaveButton(QPainter& p)
{
    p.setPen(QPen(kInk, 1));
    p.setBrush(kMapBlue);
    p.drawRect(QRectF(1.5, 1.5, 13, 12));
    p.setBrush(kPaper);
    p.drawRect(QRectF(4.5, 1.5, 7, 5));
    p.drawRect(QRectF(4.5, 9.5, 7, 4));
}

/// A printer.
void DrawPrintButton(QPainter& p)
{
    p.setPen(QPen(kInk, 1));
    p.setBrush(kPaper);
    p.drawRect(QRectF(4.5, 1.5, 7, 5));
    p.setBrush(QColor(150, 150, 160));
    p.drawRect(QRectF(1.5, 6.5, 13, 5));
    p.setBrush(kPaper);
    p.drawRect(QRectF(4.5, 10.5, 7, 3));
}

/// Degrees typed into a field.
void DrawInputOptionsButton(QPainter& p)
{
    p.setPen(QPen(kInk, 1));
    p.setBrush(kPaper);
    p.drawRect(QRectF(1.5, 4.5, 13, 7));
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 5));
    p.drawText(QRectF(1, 4, 14, 8), Qt::AlignCenter, QStringLiteral("0\u00B0"));
}

/// A marker with a plus.
void DrawSetPointsButton(QPainter& p)
{
    DrawPointMarker(p, QPointF(6, 8), kMarker);
    p.setPen(QPen(kInk, 1.5));
    p.drawLine(QPointF(12, 1), QPointF(12, 6));
    p.drawLine(QPointF(9.5, 3.5), QPointF(14.5, 3.5));
}

/// Three markers.
void DrawShowPointsButton(QPainter& p)
{
    DrawPointMarker(p, QPointF(4, 4), kMarker);
    DrawPointMarker(p, QPointF(11, 6), kMarker);
    DrawPointMarker(p, QPointF(6, 11), kMarker);
}

/// A marker with arrows.
void DrawMovePointsButton(QPainter& p)
{
    DrawPointMarker(p, QPointF(5, 10), kMarker);
    p.setPen(QPen(kInk, 1.3));
    p.drawLine(QPointF(8, 7), QPointF(14, 1));
    p.drawLine(QPointF(14, 1), QPointF(10, 1.5));
    p.drawLine(QPointF(14, 1), QPointF(13.5, 5));
}

/// A crossed-out marker.
void DrawDeletePointButton(QPainter& p)
{
    DrawPointMarker(p, QPointF(7.5, 7.5), QColor(120, 120, 120));
    p.setPen(QPen(kMarker, 2));
    p.drawLine(QPointF(2, 2), QPointF(13, 13));
    p.drawLine(QPointF(13, 2), QPointF(2, 13));
}

/// A ruler.
void DrawMeasureButton(QPainter& p)
{
    p.setPen(QPen(kInk, 1));
    p.setBrush(QColor(240, 220, 120));
    p.drawRect(QRectF(0.5, 5.5, 15, 5));
    for (int x = 2; x < 15; x += 2)
        p.drawLine(QPointF(x + 0.5, 5.5), QPointF(x + 0.5, x % 4 == 0 ? 8.5 : 7.5));
}

/// A magnifier with a plus.
void DrawZoomInButton(QPainter& p)
{
    DrawMagnifier(p, true);
}

/// A magnifier with a minus.
void DrawZoomOutButton(QPainter& p)
{
    DrawMagnifier(p, false);
}

/// A map inside a frame with corner arrows.
void DrawFitInWindowButton(QPainter& p)
{
    p.setPen(QPen(kInk, 1));
    p.setBrush(kLand);
    p.drawRect(QRectF(3.5, 3.5, 9, 8));
    p.setPen(QPen(kMapBlue, 1.3));
    p.drawLine(QPointF(1, 1), QPointF(4, 4));
    p.drawLine(QPointF(15, 14), QPointF(12, 11));
}

/// A dashed range over a map.
void DrawSelectRangeButton(QPainter& p)
{
    p.fillRect(QRectF(1, 1, 14, 13), kLand);
    p.setPen(QPen(kInk, 1, Qt::DashLine));
    p.drawRect(QRectF(3.5, 3.5, 9, 7));
}

/// Feet or metres.
void DrawSelectUnitButton(QPainter& p)
{
    p.setPen(kInk);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 5, QFont::Bold));
    p.drawText(QRectF(0, 0, 16, 8), Qt::AlignCenter, QStringLiteral("ft"));
    p.drawText(QRectF(0, 7, 16, 8), Qt::AlignCenter, QStringLiteral("m"));
}

/// A stack of images.
void DrawSelectImagesButton(QPainter& p)
{
    p.setPen(QPen(kInk, 1));
    for (int i = 2; i >= 0; --i) {
        p.setBrush(i == 0 ? kLand : kPaper);
        p.drawRect(QRectF(1.5 + 2 * i, 5.5 - 2 * i, 9, 7));
    }
}

/// A question mark.
void DrawAboutButton(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kMapBlue);
    p.drawEllipse(QRectF(1, 0.5, 14, 14));
    p.setPen(Qt::white);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 8, QFont::Bold));
    p.drawText(QRectF(1, 0.5, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
}

/// Scissors.
void DrawCutButton(QPainter& p)
{
    p.setPen(QPen(kInk, 1.2));
    p.drawLine(QPointF(4, 1), QPointF(11, 10));
    p.drawLine(QPointF(12, 1), QPointF(5, 10));
    p.drawEllipse(QRectF(1.5, 10, 4, 4));
    p.drawEllipse(QRectF(10.5, 10, 4, 4));
}

/// Two sheets.
void DrawCopyButton(QPainter& p)
{
    p.setPen(QPen(kInk, 1));
    p.setBrush(kPaper);
    p.drawRect(QRectF(1.5, 1.5, 8, 9));
    p.drawRect(QRectF(6.5, 4.5, 8, 9));
}

/// A clipboard.
void DrawPasteButton(QPainter& p)
{
    p.setPen(QPen(kInk, 1));
    p.setBrush(QColor(190, 150, 100));
    p.drawRect(QRectF(2.5, 2.5, 11, 12));
    p.setBrush(kPaper);
    p.drawRect(QRectF(5.5, 1.5, 5, 3));
}

/// One to one.
void DrawOriginalSizeButton(QPainter& p)
{
    p.setPen(kInk);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 5, QFont::Bold));
    p.drawText(QRectF(0, 0, 16, 15), Qt::AlignCenter, QStringLiteral("1:1"));
}

/// A plain frame, for a command without a picture of its own.
void DrawPlainButton(QPainter& p)
{
    p.setPen(QPen(kInk, 1));
    p.drawRect(QRectF(1.5, 1.5, 13, 12));
}

/// The picture of each toolbar button, by command id.
struct ButtonArtwork {
    int m_nId;
    void (*m_pDraw)(QPainter&);
};

const ButtonArtwork kButtons[] = {
    {ID_FILE_NEW, DrawNewButton},
    {ID_FILE_OPEN, DrawOpenButton},
    {ID_FILE_SAVE, DrawSaveButton},
    {ID_FILE_PRINT, DrawPrintButton},
    {ID_INPUT_OPTIONS, DrawInputOptionsButton},
    {ID_UNHANDLED_32782, DrawInputOptionsButton},
    {ID_SET_POINTS, DrawSetPointsButton},
    {ID_SHOW_POINTS, DrawShowPointsButton},
    {ID_MOVE_POINTS, DrawMovePointsButton},
    {ID_DELETE_POINT, DrawDeletePointButton},
    {ID_MEASURE, DrawMeasureButton},
    {ID_ZOOM_IN, DrawZoomInButton},
    {ID_ZOOM_OUT, DrawZoomOutButton},
    {ID_FIT_IN_WINDOW, DrawFitInWindowButton},
    {ID_SELECT_RANGE, DrawSelectRangeButton},
    {ID_SELECT_UNIT, DrawSelectUnitButton},
    {ID_SELECT_IMAGES, DrawSelectImagesButton},
    {ID_APP_ABOUT, DrawAboutButton},
    {ID_EDIT_CUT, DrawCutButton},
    {ID_EDIT_COPY, DrawCopyButton},
    {ID_EDIT_PASTE, DrawPasteButton},
    {ID_ORIGINAL_SIZE, DrawOriginalSizeButton},
};

void DrawButton(QPainter& p, int id)
{
    p.setRenderHint(QPainter::Antialiasing);
    const auto row = std::find_if(std::begin(kButtons), std::end(kButtons),
                                  [id](const ButtonArtwork& button) { return button.m_nId == id; });
    if (row != std::end(kButtons))
        row->m_pDraw(p);
    else
        DrawPlainButton(p);
}
} // namespace

QPixmap ToolbarButtonImage(int commandId)
{
    QImage image(16, 15, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    DrawButton(painter, commandId);
    painter.end();
    return QPixmap::fromImage(image);
}

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 32.0, size / 32.0);
        p.setPen(QPen(kInk, 1.5));
        p.setBrush(kLand);
        p.drawRoundedRect(QRectF(2, 4, 28, 24), 3, 3);
        p.setPen(QPen(kMapBlue, 1.2));
        for (int i = 0; i < 3; ++i)
            p.drawLine(QPointF(4, 10 + 7 * i), QPointF(28, 8 + 7 * i));
        DrawPointMarker(p, QPointF(20, 15), kMarker);
        p.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

QImage SplashPicture()
{
    QImage image(500, 410, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient sea(QPointF(250, 200), 420);
    sea.setColorAt(0, QColor(120, 170, 220));
    sea.setColorAt(1, QColor(30, 70, 130));
    p.fillRect(image.rect(), sea);

    // A coastline with contour lines, and a graticule over it.
    QPainterPath land;
    land.moveTo(-10, 300);
    land.cubicTo(80, 180, 160, 260, 230, 170);
    land.cubicTo(300, 90, 420, 150, 520, 60);
    land.lineTo(520, 420);
    land.lineTo(-10, 420);
    land.closeSubpath();
    p.fillPath(land, kLand);
    p.setPen(QPen(QColor(150, 120, 70), 1.2));
    for (int i = 1; i <= 4; ++i)
        p.drawPath(land.translated(14 * i, 22 * i));
    p.setPen(QPen(QColor(255, 255, 255, 90), 1, Qt::DashLine));
    for (int x = 50; x < 500; x += 80)
        p.drawLine(x, 0, x - 20, 410);
    for (int y = 40; y < 410; y += 70)
        p.drawLine(0, y, 500, y + 10);
    for (const QPointF& at : {QPointF(140, 250), QPointF(300, 170), QPointF(410, 300), QPointF(220, 340)})
        DrawPointMarker(p, at, kMarker);

    p.setPen(Qt::white);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 40, QFont::Bold));
    p.drawText(QRectF(0, 40, 500, 70), Qt::AlignCenter, QStringLiteral("Varnel"));
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 12));
    p.drawText(QRectF(0, 105, 500, 30), Qt::AlignCenter, QStringLiteral("Geo-coding for scanned maps"));
    p.setPen(kInk);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    p.drawText(QRectF(0, 375, 490, 25), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Version %1").arg(VarnelVersion()));
    p.end();
    return image;
}
