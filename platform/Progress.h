#pragma once
// Long work (importing a large TIFF, coding a projection file, writing a big file) tells how far
// it has got and learns whether the user wants it stopped. The work may run on another thread
// than the one that shows the progress, so everything shared is atomic.

#include <atomic>
#include <functional>

/// What one run of long work shares with whoever watches it.
class ProgressState {
public:
    /// The fraction of the whole work done, 0 to 1.
    double Fraction() const { return m_dFraction.load(std::memory_order_relaxed); }
    /// Asks the work to stop; it does at its next report.
    void Cancel() { m_bCancelled.store(true, std::memory_order_relaxed); }
    bool Cancelled() const { return m_bCancelled.load(std::memory_order_relaxed); }

    /// Called on the working thread with each new fraction (printing it, or a test's hand on
    /// Cancel). Set before the work starts.
    std::function<void(double)> m_OnReport;

private:
    friend class Progress;
    void Set(double fraction);

    std::atomic<double> m_dFraction{0.0};
    std::atomic<bool> m_bCancelled{false};
};

/// The handle long work is given: a part of one run's progress, in the work's own units.
/// A default one reports nowhere and never stops.
class Progress {
public:
    Progress() = default;
    explicit Progress(ProgressState& state) : m_pState(&state) {}

    /// done of total units of this part are finished. False once the user has cancelled: the
    /// work then stops, undoing what it did, and reports that it was cancelled.
    bool Report(double done, double total) const;
    /// Whether the user has cancelled, without reporting.
    bool Cancelled() const { return m_pState && m_pState->Cancelled(); }

    /// The stretch from..to (fractions of this part) as a part of its own, for one step of a
    /// longer job.
    Progress Part(double from, double to) const;

private:
    ProgressState* m_pState = nullptr;
    double m_dFrom = 0.0;
    double m_dTo = 1.0;
};
