#include "app/DialogLayout.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QWidget>

#include <cmath>

QFont DialogUnits::DialogFont()
{
    QFont font = QApplication::font();
    font.setPointSize(8);
    return font;
}

DialogUnits::DialogUnits() : DialogUnits(DialogFont())
{
}

DialogUnits::DialogUnits(const QFont& font) : m_Font(font)
{
    const QFontMetricsF metrics(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double averageWidth = std::round(metrics.horizontalAdvance(alphabet) / alphabet.size());
    const double height = std::round(metrics.height());
    if (averageWidth > 0 && height > 0) {
        m_dX = averageWidth / 4.0;
        m_dY = height / 8.0;
    }
}

QRect DialogUnits::ToPixels(int x, int y, int width, int height) const
{
    const auto across = [this](int units) { return static_cast<int>(std::lround(units * m_dX)); };
    const auto down = [this](int units) { return static_cast<int>(std::lround(units * m_dY)); };
    return {across(x), down(y), across(width), down(height)};
}

void DialogUnits::Place(QWidget* widget, int x, int y, int width, int height) const
{
    widget->setGeometry(ToPixels(x, y, width, height));
}

void DialogUnits::SetUp(QWidget* dialog, int width, int height) const
{
    dialog->setFont(m_Font);
    dialog->setFixedSize(ToPixels(0, 0, width, height).size());
}
