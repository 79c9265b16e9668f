#pragma once
// Text taken from a file or a command line, as a message shows it.

#include <QString>

/// The longest text DisplayText gives.
inline constexpr qsizetype kDisplayLength = 200;

/// text with every character that is not printable (a control character such as ESC, CR or LF,
/// a NUL, a format character such as a direction override) written as a \xNN escape, so that a
/// file name or a file's own words can neither steer a terminal nor break a message's lines.
QString EscapedText(const QString& text);

/// EscapedText(text), and when that is longer than length characters (kDisplayLength: 200), its
/// first length / 2 and the rest but one last around "…" (100 and 99): a path of thousands of
/// characters still shows where it starts and which file it ends in. Escapes are never cut in two.
QString DisplayText(const QString& text, qsizetype length = kDisplayLength);
