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
