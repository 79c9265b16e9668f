#include "imaging/PictureReaderMessages.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace {

thread_local PictureReaderMessages* t_pOutermost = nullptr;
/// The handler installed before ours, to which other threads' messages go.
std::atomic<QtMessageHandler> g_Previous{nullptr};
/// Set while this thread passes a message on: a handler installed after ours that passes its
/// messages back to ours must not go round in a circle.
thread_local bool t_bPassing = false;

} // namespace

struct PictureReaderMessagesHandler {
    static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (PictureReaderMessages* scope = t_pOutermost) {
            // libjpeg's texts come bare under Qt's category for it; libpng's name their library.
            const bool jpeg = context.category && std::strcmp(context.category, "qt.gui.imageio.jpeg") == 0;
            scope->m_strLast = jpeg ? QStringLiteral("libjpeg: ") + text : text;
            return;
        }
        const QtMessageHandler previous = g_Previous.load();
        if (!previous || t_bPassing)
            return;
        t_bPassing = true;
        previous(type, context, text);
        t_bPassing = false;
    }
};

PictureReaderMessages::PictureReaderMessages()
{
    if (t_pOutermost)
        return;
    t_pOutermost = this;
    m_bOutermost = true;
    // Installed again whenever another handler has taken its place since (the command-line tool
    // installs its own at start), and never removed: a scope on another thread may be open.
    static std::mutex installing;
    const std::lock_guard<std::mutex> lock(installing);
    const QtMessageHandler previous = qInstallMessageHandler(PictureReaderMessagesHandler::Handle);
    if (previous != PictureReaderMessagesHandler::Handle)
        g_Previous = previous;
}

PictureReaderMessages::~PictureReaderMessages()
{
    if (m_bOutermost)
        t_pOutermost = nullptr;
}

std::optional<QString> PictureReaderMessages::Unreadable() const
{
    if (m_strLast.isEmpty())
        return std::nullopt;
    return UnreadableWith(m_strLast);
}

QString PictureReaderMessages::UnreadableWith(const QString& detail)
{
    return QStringLiteral("The picture is damaged, or it is not a picture of the kind it seems to be: it cannot be "
                          "read.\n\n%1")
        .arg(detail);
}
