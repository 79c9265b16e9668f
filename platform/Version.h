#pragma once
// The version both programs, the About box, the splash and the package report; it comes from the
// project's build description.

#include <QString>

inline QString VarnelVersion()
{
    return QStringLiteral(VARNEL_VERSION);
}

/// The product's name, as window titles and the captions of its general questions show it.
inline QString ApplicationTitle()
{
    return QStringLiteral("Varnel");
}
