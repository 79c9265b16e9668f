#include "commands/CommandResult.h"

#include "platform/UiServices.h"

void ShowMessage(const UiMessage& message)
{
    Ui().MessageBox(message.m_strText, message.m_strCaption, message.m_nType);
}

void ShowMessages(const UiMessages& messages)
{
    for (const UiMessage& message : messages)
        ShowMessage(message);
}

UiMessage OutOfMemoryMessage(const QString& text)
{
    return {text.isEmpty() ? QStringLiteral("There is not enough memory to finish this. The map and its points are as "
                                            "they were.")
                           : text,
            QStringLiteral("Not Enough Memory"), MB_OK | MB_ICONERROR};
}
