#pragma once
// What the libraries behind Qt's picture readers say while a picture is read: kept from standard
// error, and from the user in the library's own words.

#include <QString>

#include <optional>

/// Holds what Qt's picture readers (libjpeg, libpng, Qt's own GIF and ICO readers) write to Qt's
/// message log on this thread while the scope is open, instead of letting it reach standard
/// error. Their warnings tell of damage the reader went past, change nothing of what it gives,
/// and go with the scope; when a picture cannot be read, the last text is the detail under
/// Varnel's own sentence (Unreadable()). Messages of other threads pass on to the handler that
/// was installed before. Scopes nest: the outermost one collects.
class PictureReaderMessages {
public:
    PictureReaderMessages();
    ~PictureReaderMessages();
    PictureReaderMessages(const PictureReaderMessages&) = delete;
    PictureReaderMessages& operator=(const PictureReaderMessages&) = delete;

    /// Why the picture could not be read, in Varnel's words with the library's last text as the
    /// detail; nothing when no library said anything.
    std::optional<QString> Unreadable() const;

    /// The same sentence over a text a library gave in some other way (libpng's own report).
    static QString UnreadableWith(const QString& detail);

private:
    friend struct PictureReaderMessagesHandler;
    bool m_bOutermost = false;
    QString m_strLast;
};
