#pragma once
// Little-endian values written and read one by one, never as a structure dump, so that file
// layouts stay byte-exact whatever the compiler's padding. The reader checks every length
// against the bytes that remain and reports a short read instead of reading past the end.

#include <QByteArray>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

class BinaryWriter {
public:
    explicit BinaryWriter(QByteArray& out) : m_Out(out) {}

    template <typename T>
    void Write(T value)
    {
        static_assert(std::is_arithmetic_v<T>);
        std::uint8_t bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        if constexpr (std::endian::native == std::endian::big)
            std::reverse(bytes, bytes + sizeof(T));
        m_Out.append(reinterpret_cast<const char*>(bytes), sizeof(T));
    }
    void WriteInt32(std::int32_t v) { Write(v); }
    void WriteUInt32(std::uint32_t v) { Write(v); }
    void WriteUInt16(std::uint16_t v) { Write(v); }
    void WriteUInt8(std::uint8_t v) { Write(v); }
    void WriteDouble(double v) { Write(v); }
    void WriteBytes(const void* data, qsizetype size) { m_Out.append(static_cast<const char*>(data), size); }
    void WriteBytes(const QByteArray& bytes) { m_Out.append(bytes); }

private:
    QByteArray& m_Out;
};

class BinaryReader {
public:
    BinaryReader(const char* data, qsizetype size) : m_pData(data), m_nSize(size) {}
    explicit BinaryReader(const QByteArray& bytes) : BinaryReader(bytes.constData(), bytes.size()) {}

    /// Reads one value; on a short read returns false, leaves value alone and marks the reader failed.
    template <typename T>
    bool Read(T& value)
    {
        static_assert(std::is_arithmetic_v<T>);
        if (!Has(sizeof(T)))
            return Fail();
        std::uint8_t bytes[sizeof(T)];
        std::memcpy(bytes, m_pData + m_nPos, sizeof(T));
        if constexpr (std::endian::native == std::endian::big)
            std::reverse(bytes, bytes + sizeof(T));
        std::memcpy(&value, bytes, sizeof(T));
        m_nPos += sizeof(T);
        return true;
    }
    /// Reads size raw bytes into out (replacing its content).
    bool ReadBytes(qsizetype size, QByteArray& out)
    {
        if (size < 0 || !Has(size))
            return Fail();
        out = QByteArray(m_pData + m_nPos, size);
        m_nPos += size;
        return true;
    }
    bool Skip(qsizetype size)
    {
        if (size < 0 || !Has(size))
            return Fail();
        m_nPos += size;
        return true;
    }
    bool Seek(qsizetype pos)
    {
        if (pos < 0 || pos > m_nSize)
            return Fail();
        m_nPos = pos;
        return true;
    }

    qsizetype Position() const { return m_nPos; }
    qsizetype Remaining() const { return m_nSize - m_nPos; }
    bool Has(qsizetype size) const { return size <= m_nSize - m_nPos; }
    /// False once any read ran short.
    bool Ok() const { return m_bOk; }

private:
    bool Fail()
    {
        m_bOk = false;
        return false;
    }

    const char* m_pData;
    qsizetype m_nSize;
    qsizetype m_nPos = 0;
    bool m_bOk = true;
};

/// The little-endian value at offset at of bytes, or 0 where the bytes end before it (for
/// looking into headers, where a short file simply matches nothing).
template <typename T>
T ValueAt(const QByteArray& bytes, qsizetype at)
{
    T value = 0;
    BinaryReader reader(bytes);
    return reader.Seek(at) && reader.Read(value) ? value : T(0);
}
inline std::uint32_t HeaderU32(const QByteArray& bytes, qsizetype at) { return ValueAt<std::uint32_t>(bytes, at); }
inline std::uint16_t HeaderU16(const QByteArray& bytes, qsizetype at) { return ValueAt<std::uint16_t>(bytes, at); }
