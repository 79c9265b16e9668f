#pragma once

#include "imaging/IPicture.h"
#include "platform/UiMessage.h"

#include <QString>

#include <memory>
#include <optional>

class MappedFile;
class QPainter;

/// One picture of the picture service: loaded from a file or from picture-file bytes in memory,
/// drawn whole or in part into a rectangle, and saved as a BMP file. A failure leaves the message
/// box to show, captioned "Picture Error", in LastError() until the next operation.
class CPicture {
public:
    CPicture() = default;
    ~CPicture();
    CPicture(const CPicture&) = delete;
    CPicture& operator=(const CPicture&) = delete;
    CPicture(CPicture&&) noexcept = default;
    CPicture& operator=(CPicture&&) noexcept = default;

    /// Releases the current picture and loads the file. Sets m_nByteSize to the file's length and
    /// the pixel size from the picture's HIMETRIC size at 96 pixels per inch. False, with the
    /// sizes 0, when no picture results; a file that cannot be opened is reported. When
    /// fileBytes is given it receives the bytes read (empty when the file did not open), so that
    /// a caller that keeps the file's bytes need not read the file twice. With mapping, the file
    /// is mapped into it for reading front to back instead of read into fresh memory; the
    /// picture and fileBytes then refer to its bytes and must not outlive it.
    bool LoadFromFile(const QString& path, QByteArray* fileBytes = nullptr, MappedFile* mapping = nullptr);
    /// Loads a picture from picture-file bytes. False, with m_pPicture null, when the bytes could
    /// not be decoded. A picture refused for what it claims (a size its data cannot describe, more
    /// memory than is available), or one its decoding library says it cannot read, leaves why in
    /// LastError(). Leaves the size fields alone.
    bool LoadFromMemory(const QByteArray& data);
    bool LoadFromMemory(const void* data, qsizetype size);
    /// Releases the picture and zeroes every member.
    void Free();

    /// Draws the whole picture stretched into rect. False with no painter or no picture.
    bool Draw(QPainter* destination, const QRect& rect) const;
    /// Draws the part between the horizontal fractions left .. right (from the left edge) and the
    /// vertical fractions lower .. upper (from the bottom edge) stretched into rect.
    bool DrawPart(QPainter* destination, const QRect& rect, double left, double right, double lower, double upper) const;
    /// Writes the picture as a BMP file: for a picture loaded from a BMP file the bytes that
    /// were loaded, for any other a 24-bit rendering. False, writing nothing, with no picture.
    bool SaveToFile(const QString& path);
    /// Why the last load, draw or save failed; nothing after one that did not fail.
    const std::optional<UiMessage>& LastError() const { return m_LastError; }

    std::unique_ptr<IPicture> m_pPicture; ///< the loaded picture; null when empty
    int m_nHeight = 0;                    ///< height in pixels, as the picture service measures it
    int m_nByteSize = 0;                  ///< length of the file last loaded by LoadFromFile
    int m_nWidth = 0;                     ///< width in pixels, as the picture service measures it

private:
    mutable std::optional<UiMessage> m_LastError;

    void Fail(const QString& text) const;
    bool Render(QPainter* destination, const QRect& rect, int xSrc, int ySrc, int cxSrc, int cySrc) const;
};

/// The caption and text of the picture service's memory message.
inline constexpr const char* kPictureErrorCaption = "Picture Error";
inline constexpr const char* kPictureMemoryText = "Can not allocate enough memory\t";
