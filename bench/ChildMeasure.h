#pragma once
// Measuring one step of work on its own: it runs in a forked child, so that the kernel's
// high-water mark of the resident set, reset when the child starts, covers that step and nothing
// else.

#include <QStringList>

#include <functional>
#include <vector>

struct Measurement {
    double m_dSeconds = 0;   ///< 0 when the measurement failed
    double m_dPeakBytes = 0; ///< growth of the resident set at its peak
};

/// Runs work in a forked child and returns its duration and peak memory growth.
Measurement MeasureInChild(const std::function<void()>& work);

/// Runs a program (command's first word, a path) with its standard output to /dev/null and
/// returns its wall time and its own peak resident set (not a growth: the whole process's, from
/// its start as that program); zero seconds when it could not run or failed.
Measurement MeasureProcess(const QStringList& command);

/// The median of values (the upper one of an even count); 0 for none.
double Median(std::vector<double> values);
