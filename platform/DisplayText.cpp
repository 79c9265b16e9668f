#include "platform/DisplayText.h"

#include <QList>

namespace {

QString Shown(char32_t c)
{
    return QChar::isPrint(c) ? QString::fromUcs4(&c, 1) : QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
}

} // namespace

QString EscapedText(const QString& text)
{
    QString shown;
    for (const char32_t c : text.toUcs4())
        shown += Shown(c);
    return shown;
}

QString DisplayText(const QString& text, qsizetype length)
{
    if (text.size() <= length) {
        QString shown = EscapedText(text);
        if (shown.size() <= length)
            return shown;
    }
    const qsizetype headLength = length / 2;
    const qsizetype tailLength = length - headLength - 1;
    // Each character shows as one or more, so no more than twice as many UTF-16 units as are
    // shown at either end need be looked at, however long the text.
    QString head;
    for (const char32_t c : text.left(2 * headLength).toUcs4()) {
        const QString piece = Shown(c);
        if (head.size() + piece.size() > headLength)
            break;
        head += piece;
    }
    QString tail;
    const QList<uint> end = text.right(2 * tailLength).toUcs4();
    for (auto c = end.crbegin(); c != end.crend(); ++c) {
        const QString piece = Shown(*c);
        if (tail.size() + piece.size() > tailLength)
            break;
        tail.prepend(piece);
    }
    return head + QChar(0x2026) + tail;
}
