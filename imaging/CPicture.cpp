#include "imaging/CPicture.h"

#include "imaging/PictureService.h"
#include "platform/FileIO.h"
#include "platform/MappedFile.h"

#include <QPainter>

CPicture::~CPicture()
{
    Free();
}

void CPicture::Free()
{
    m_LastError.reset();
    m_pPicture.reset();
    m_nHeight = 0;
    m_nByteSize = 0;
    m_nWidth = 0;
}

void CPicture::Fail(const QString& text) const
{
    m_LastError = UiMessage{text, QString::fromLatin1(kPictureErrorCaption), MB_OK | MB_ICONERROR};
}

bool CPicture::LoadFromFile(const QString& path, QByteArray* fileBytes, MappedFile* mapping)
{
    Free();
    QByteArray bytes;
    QString error;
    bool result = false;
    const bool read = mapping ? mapping->Open(path, &error, MappedFile::Access::FrontToBack) : ReadWholeFile(path, bytes, &error);
    if (mapping && read)
        bytes = mapping->Bytes();
    if (!read) {
        Fail(error);
    } else {
        m_nByteSize = static_cast<int>(bytes.size());
        if (!bytes.isEmpty())
            result = LoadFromMemory(bytes);
    }
    if (fileBytes)
        *fileBytes = bytes;
    if (m_pPicture) {
        const QSize himetric = m_pPicture->HimetricSize();
        m_nHeight = MulDiv(himetric.height(), kPixelsPerInch, kHimetricPerInch);
        m_nWidth = MulDiv(himetric.width(), kPixelsPerInch, kHimetricPerInch);
    } else {
        m_nHeight = 0;
        m_nWidth = 0;
        result = false;
    }
    return result;
}

bool CPicture::LoadFromMemory(const QByteArray& data)
{
    m_LastError.reset();
    QString refusal;
    m_pPicture = LoadPicture(data, &refusal);
    if (!m_pPicture && !refusal.isEmpty())
        Fail(refusal);
    return m_pPicture != nullptr;
}

bool CPicture::LoadFromMemory(const void* data, qsizetype size)
{
    if (!data || size <= 0)
        return LoadFromMemory(QByteArray());
    return LoadFromMemory(QByteArray(static_cast<const char*>(data), size));
}

bool CPicture::Render(QPainter* destination, const QRect& rect, int xSrc, int ySrc, int cxSrc, int cySrc) const
{
    m_LastError.reset();
    if (!destination || !destination->isActive() || !m_pPicture)
        return false;
    if (!m_pPicture->Render(*destination, rect, xSrc, ySrc, cxSrc, cySrc)) {
        Fail(QString::fromLatin1(kPictureMemoryText));
        return false;
    }
    return true;
}

bool CPicture::Draw(QPainter* destination, const QRect& rect) const
{
    if (!m_pPicture)
        return false;
    const QSize himetric = m_pPicture->HimetricSize();
    return Render(destination, rect, 0, himetric.height(), himetric.width(), -himetric.height());
}

bool CPicture::DrawPart(QPainter* destination, const QRect& rect, double left, double right, double lower, double upper) const
{
    if (!m_pPicture)
        return false;
    // Fractions of the picture: anything else (a NaN from a view of no size) draws nothing.
    for (const double fraction : {left, right, lower, upper})
        if (!(fraction >= 0.0 && fraction <= 1.0))
            return false;
    const QSize himetric = m_pPicture->HimetricSize();
    const double w = himetric.width();
    const double h = himetric.height();
    return Render(destination, rect, int(w * left), int(h * upper), int(w * (right - left)), -int(h * (upper - lower)));
}

bool CPicture::SaveToFile(const QString& path)
{
    m_LastError.reset();
    if (!m_pPicture)
        return false;
    const QByteArray bytes = m_pPicture->SaveAsBmp();
    if (bytes.isEmpty()) {
        Fail(QString::fromLatin1(kPictureMemoryText));
        return false;
    }
    QString error;
    if (!WriteWholeFile(path, bytes, &error)) {
        Fail(error);
        return false;
    }
    return true;
}
