#pragma once

#include "platform/UiMessage.h"

#include <QString>

#include <cstdarg>

/// Collects the error and warning texts that libtiff and libgeotiff report while a TIFF map is
/// imported, as at most one "TIFF Error" box (stop icon) and one "TIFF Warning" box
/// (exclamation icon) for the command to show, each with the first text of its kind and a note of
/// how many more there were. A broken file is therefore never silent, and a file with a fault in
/// every strip does not bury the user under hundreds of boxes.
///
/// Scopes nest: only the outermost one collects, so a caller that wraps a whole import (scan
/// plus every directory) in one scope gets one box of each kind for all of it, while each import
/// function on its own opens a scope too. Reports made while no scope is open are dropped. One
/// thread only.
class TiffMessageScope {
public:
    enum class Kind { Error, Warning };

    TiffMessageScope();
    ~TiffMessageScope();
    TiffMessageScope(const TiffMessageScope&) = delete;
    TiffMessageScope& operator=(const TiffMessageScope&) = delete;

    /// Hands one library message to the outermost open scope.
    static void Report(Kind kind, const QString& text);
    /// The boxes to show for what this scope collected: the error first, then the warning.
    /// Empty for an inner scope.
    UiMessages Messages() const;
    /// How many errors the outermost open scope has collected (0 while none is open): a decoder
    /// that goes on after an error of its own (libtiff's fax decoder after a bad code word) is
    /// caught by the count going up.
    static int ErrorCount();
    /// A library's printf-style message as a message shows it (see DisplayText): it names files
    /// and quotes their tags.
    static QString Format(const char* format, va_list arguments);

private:
    struct Collected {
        QString m_strFirst;
        int m_nCount = 0;
    };
    static void Append(UiMessages& messages, const Collected& collected, const QString& caption, unsigned icon);

    bool m_bOutermost = false;
    Collected m_Errors;
    Collected m_Warnings;
};
