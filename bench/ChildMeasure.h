#pragma once
// Measuring one step of work on its own: it runs in a forked child, so that the kernel's
// high-water mark of the resident set, reset when the child starts, covers that step and nothing
// else.

#include <functional>

struct Measurement {
    double m_dSeconds = 0;   ///< 0 when the measurement failed
    double m_dPeakBytes = 0; ///< growth of the resident set at its peak
};

/// Runs work in a forked child and returns its duration and peak memory growth.
Measurement MeasureInChild(const std::function<void()>& work);
