#pragma once
// Field-by-field reading of one metafile record. A record is a slice of the file whose length
// has already been checked against the file; every field read here is checked against the
// record, so a record that claims more fields than it holds reads as failed, never beyond.

#include "platform/BinaryIO.h"

#include <QByteArrayView>
#include <QPointF>
#include <QRectF>

#include <cmath>
#include <cstdint>

/// Reads the fields of one record, little-endian, with bounds checks. After a short read every
/// further read yields 0 and Ok() stays false, so a handler may read all its fields and test
/// once.
class MetafileRecordReader {
public:
    explicit MetafileRecordReader(QByteArrayView record) : m_Record(record), m_Reader(record.data(), record.size()) {}

    std::int32_t I32() { return Get<std::int32_t>(); }
    std::uint32_t U32() { return Get<std::uint32_t>(); }
    std::int16_t I16() { return Get<std::int16_t>(); }
    std::uint16_t U16() { return Get<std::uint16_t>(); }
    std::uint8_t U8() { return Get<std::uint8_t>(); }
    /// A 32-bit float; NaN and infinities read as failed (and 0), so no caller has to test.
    float F32()
    {
        const float v = Get<float>();
        if (!std::isfinite(v)) {
            m_bOk = false;
            return 0.0f;
        }
        return v;
    }
    /// A point of two 32-bit integers (x, y).
    QPointF Point32()
    {
        const double x = I32();
        return {x, double(I32())};
    }
    /// A point of two 16-bit integers (x, y).
    QPointF Point16()
    {
        const double x = I16();
        return {x, double(I16())};
    }
    /// A rectangle stored as left, top, right, bottom (32-bit each).
    QRectF Rect32()
    {
        const double l = I32(), t = I32(), r = I32(), b = I32();
        return QRectF(QPointF(l, t), QPointF(r, b));
    }

    bool Skip(qsizetype bytes) { return m_Reader.Skip(bytes) || Fail(); }
    bool Seek(qsizetype offset) { return m_Reader.Seek(offset) || Fail(); }
    qsizetype Position() const { return m_Reader.Position(); }
    qsizetype Remaining() const { return m_bOk ? m_Reader.Remaining() : 0; }
    /// True when count items of itemSize bytes remain (without overflow).
    bool HasItems(std::uint64_t count, std::uint64_t itemSize) const
    {
        return itemSize != 0 && count <= std::uint64_t(Remaining()) / itemSize;
    }
    bool Ok() const { return m_bOk && m_Reader.Ok(); }
    /// Marks the record as broken (a count or an offset that does not fit).
    bool Fail()
    {
        m_bOk = false;
        return false;
    }

    /// The bytes [offset, offset + size) of the record, or an empty view (and failed) when they
    /// are not all inside it.
    QByteArrayView Slice(std::uint64_t offset, std::uint64_t size)
    {
        if (offset > std::uint64_t(m_Record.size()) || size > std::uint64_t(m_Record.size()) - offset) {
            Fail();
            return {};
        }
        return m_Record.sliced(qsizetype(offset), qsizetype(size));
    }
    QByteArrayView Record() const { return m_Record; }

private:
    template <typename T>
    T Get()
    {
        T v{};
        if (!m_bOk || !m_Reader.Read(v)) {
            m_bOk = false;
            return T{};
        }
        return v;
    }

    QByteArrayView m_Record;
    BinaryReader m_Reader;
    bool m_bOk = true;
};
