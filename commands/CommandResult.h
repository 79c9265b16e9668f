#pragma once
// What a command did: whether it was carried out and what the user is to be told. Commands that
// the command-line tool shares return this instead of showing anything, so that every caller
// decides how to show it; the desktop shows the messages as message boxes.

#include "platform/UiMessage.h"

struct CommandResult {
    bool m_bDone = false;  ///< the command was carried out (a file written, a map loaded)
    UiMessages m_Messages; ///< in the order they arose
    bool m_bCancelled = false; ///< the user stopped it; nothing was changed and nothing is to be said

    static CommandResult Done() { return {true, {}, false}; }
    static CommandResult Refused(UiMessage message) { return {false, {std::move(message)}, false}; }
    static CommandResult Cancelled() { return {false, {}, true}; }
};

/// The message of a command that ran out of memory: text when given (such as the memory check's
/// "This map needs ..."), otherwise a general one saying that nothing was changed.
UiMessage OutOfMemoryMessage(const QString& text = QString());

/// Shows message boxes through the user-interface services, in order.
void ShowMessages(const UiMessages& messages);
void ShowMessage(const UiMessage& message);
