#pragma once
// The version both programs, the About box, the splash and the package report; it comes from the
// project's build description.

#include <QString>

inline QString VarnelVersion()
{
    return QStringLiteral(VARNEL_VERSION);
}
