#include "formats/TiffMessageScope.h"

#include "platform/DisplayText.h"

#include <cstdio>
#include <vector>

namespace {

// Per thread: an import on a worker thread collects its own messages.
thread_local TiffMessageScope* g_pOutermost = nullptr;

} // namespace

TiffMessageScope::TiffMessageScope()
{
    if (!g_pOutermost) {
        g_pOutermost = this;
        m_bOutermost = true;
    }
}

TiffMessageScope::~TiffMessageScope()
{
    if (!m_bOutermost)
        return;
    g_pOutermost = nullptr;
}

UiMessages TiffMessageScope::Messages() const
{
    UiMessages messages;
    // The error comes first: it says why a picture is missing or black.
    Append(messages, m_Errors, QStringLiteral("TIFF Error"), MB_ICONERROR);
    Append(messages, m_Warnings, QStringLiteral("TIFF Warning"), MB_ICONEXCLAMATION);
    return messages;
}

void TiffMessageScope::Report(Kind kind, const QString& text)
{
    if (!g_pOutermost)
        return;
    Collected& collected = kind == Kind::Error ? g_pOutermost->m_Errors : g_pOutermost->m_Warnings;
    if (collected.m_nCount++ == 0)
        collected.m_strFirst = text;
}

int TiffMessageScope::ErrorCount()
{
    return g_pOutermost ? g_pOutermost->m_Errors.m_nCount : 0;
}

void TiffMessageScope::Append(UiMessages& messages, const Collected& collected, const QString& caption, unsigned icon)
{
    if (collected.m_nCount == 0)
        return;
    QString text = collected.m_strFirst;
    if (collected.m_nCount > 1)
        text += QStringLiteral("\n\n(%1 more like this not shown)").arg(collected.m_nCount - 1);
    messages.push_back({text, caption, MB_OK | icon});
}

QString TiffMessageScope::Format(const char* format, va_list arguments)
{
    if (!format)
        return {};
    std::vector<char> buffer(256);
    va_list copy;
    va_copy(copy, arguments);
    const int needed = std::vsnprintf(buffer.data(), buffer.size(), format, copy);
    va_end(copy);
    if (needed < 0)
        return DisplayText(QString::fromLocal8Bit(format));
    if (static_cast<size_t>(needed) >= buffer.size()) {
        buffer.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
    }
    return DisplayText(QString::fromLocal8Bit(buffer.data(), needed));
}
