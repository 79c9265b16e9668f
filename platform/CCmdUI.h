#pragma once
// The enable and check state a command's update handler computes. A handler that does not
// call SetCheck leaves the check mark as it was.

#include <QString>

#include <optional>

class CCmdUI {
public:
    void Enable(bool enabled = true) { m_bEnabled = enabled; }
    void SetCheck(int check = 1) { m_Check = check != 0; }
    /// A menu text that says what the command will do ("&Undo Move Point 3").
    void SetText(const QString& text) { m_Text = text; }

    bool IsEnabled() const { return m_bEnabled; }
    /// The check state to apply, or nothing when the handler left it alone.
    std::optional<bool> Check() const { return m_Check; }
    /// The text to show, or nothing to keep the menu's own.
    const std::optional<QString>& Text() const { return m_Text; }

private:
    bool m_bEnabled = true;
    std::optional<bool> m_Check;
    std::optional<QString> m_Text;
};
