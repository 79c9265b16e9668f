#pragma once
// The enable and check state a command's update handler computes. A handler that does not
// call SetCheck leaves the check mark as it was.

#include <optional>

class CCmdUI {
public:
    void Enable(bool enabled = true) { m_bEnabled = enabled; }
    void SetCheck(int check = 1) { m_Check = check != 0; }

    bool IsEnabled() const { return m_bEnabled; }
    /// The check state to apply, or nothing when the handler left it alone.
    std::optional<bool> Check() const { return m_Check; }

private:
    bool m_bEnabled = true;
    std::optional<bool> m_Check;
};
