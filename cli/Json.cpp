#include "Json.h"

#include <cmath>
#include <cstdio>

void JsonWriter::Separate()
{
    if (m_bAfterKey) {
        m_bAfterKey = false;
        return;
    }
    if (!m_First.empty()) {
        if (!m_First.back())
            m_strText += ", ";
        m_First.back() = false;
    }
}

JsonWriter& JsonWriter::BeginObject()
{
    Separate();
    m_strText += '{';
    m_First.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::EndObject()
{
    m_strText += '}';
    m_First.pop_back();
    return *this;
}

JsonWriter& JsonWriter::BeginArray()
{
    Separate();
    m_strText += '[';
    m_First.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::EndArray()
{
    m_strText += ']';
    m_First.pop_back();
    return *this;
}

JsonWriter& JsonWriter::Key(const char* name)
{
    Separate();
    WriteString(QString::fromUtf8(name));
    m_strText += ": ";
    m_bAfterKey = true;
    return *this;
}

JsonWriter& JsonWriter::Value(const QString& text)
{
    Separate();
    WriteString(text);
    return *this;
}

void JsonWriter::WriteString(const QString& text)
{
    m_strText += '"';
    for (const char c : text.toStdString()) {
        switch (c) {
        case '"':
            m_strText += "\\\"";
            break;
        case '\\':
            m_strText += "\\\\";
            break;
        case '\n':
            m_strText += "\\n";
            break;
        case '\t':
            m_strText += "\\t";
            break;
        case '\r':
            m_strText += "\\r";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
                m_strText += escaped;
            } else {
                m_strText += c;
            }
        }
    }
    m_strText += '"';
}

JsonWriter& JsonWriter::Value(const char* text)
{
    return Value(QString::fromUtf8(text));
}

JsonWriter& JsonWriter::Value(bool flag)
{
    Separate();
    m_strText += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Value(int number)
{
    return Value(static_cast<long long>(number));
}

JsonWriter& JsonWriter::Value(long long number)
{
    Separate();
    m_strText += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::Value(double number)
{
    if (!std::isfinite(number))
        return Null();
    Separate();
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", number);
    m_strText += text;
    return *this;
}

JsonWriter& JsonWriter::Null()
{
    Separate();
    m_strText += "null";
    return *this;
}
