#pragma once
// A small JSON writer for the command-line tool's one-object answers.

#include <QString>

#include <string>
#include <vector>

/// Builds one JSON value as text. Doubles are written with 17 significant digits so that they
/// read back to the same binary value; non-finite doubles become null.
class JsonWriter {
public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(const char* name);
    JsonWriter& Value(const QString& text);
    JsonWriter& Value(const char* text);
    JsonWriter& Value(bool flag);
    JsonWriter& Value(int number);
    JsonWriter& Value(long long number);
    JsonWriter& Value(double number);
    JsonWriter& Null();

    const std::string& Text() const { return m_strText; }

private:
    void Separate();
    void WriteString(const QString& text);

    std::string m_strText;
    std::vector<bool> m_First; ///< per open container: no element written yet
    bool m_bAfterKey = false;
};
