#include "platform/Progress.h"

#include <algorithm>

void ProgressState::Set(double fraction)
{
    m_dFraction.store(fraction, std::memory_order_relaxed);
    if (m_OnReport)
        m_OnReport(fraction);
}

bool Progress::Report(double done, double total) const
{
    if (!m_pState)
        return true;
    const double share = total > 0.0 ? std::clamp(done / total, 0.0, 1.0) : 1.0;
    m_pState->Set(m_dFrom + (m_dTo - m_dFrom) * share);
    return !m_pState->Cancelled();
}

Progress Progress::Part(double from, double to) const
{
    Progress part = *this;
    part.m_dFrom = m_dFrom + (m_dTo - m_dFrom) * from;
    part.m_dTo = m_dFrom + (m_dTo - m_dFrom) * to;
    return part;
}
