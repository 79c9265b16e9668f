#pragma once
// Dialog templates are laid out in dialog units, which follow the dialog's font: a unit across is
// a quarter of the font's average character width and a unit down an eighth of its height
// (with the classic 8-point dialog font at 96 pixels per inch, 1.5 and 1.625 pixels). Scaling by
// the font in use keeps every text inside its control whatever font the desktop offers.

#include <QFont>
#include <QRect>

class QWidget;

class DialogUnits {
public:
    /// Units of the 8-point dialog font of this desktop.
    DialogUnits();
    explicit DialogUnits(const QFont& font);

    /// The pixel rectangle of a control at (x, y) of size (width, height) in dialog units.
    QRect ToPixels(int x, int y, int width, int height) const;
    double PixelsPerUnitX() const { return m_dX; }
    double PixelsPerUnitY() const { return m_dY; }
    const QFont& Font() const { return m_Font; }

    /// Places widget inside its dialog at a rectangle given in dialog units.
    void Place(QWidget* widget, int x, int y, int width, int height) const;
    /// Gives a dialog its font and the fixed client size of its template.
    void SetUp(QWidget* dialog, int width, int height) const;

    /// The 8-point font dialogs use.
    static QFont DialogFont();

private:
    QFont m_Font;
    double m_dX = 1.5;
    double m_dY = 1.625;
};
