#pragma once

#include <QString>

#include <optional>
#include <utility>

/// What a reader made of bytes: the value it read, or why it read none. The reason is a sentence
/// or phrase for the user, which the caller places in its own message (naming the file, choosing
/// the caption).
template <class T>
class Parsed {
public:
    Parsed(T value) : m_Value(std::move(value)) {}
    static Parsed Refused(QString why)
    {
        Parsed refused;
        refused.m_Why = std::move(why);
        return refused;
    }

    explicit operator bool() const { return m_Value.has_value(); }
    const T& operator*() const& { return *m_Value; }
    T& operator*() & { return *m_Value; }
    T&& operator*() && { return std::move(*m_Value); }
    const T* operator->() const { return &*m_Value; }
    T* operator->() { return &*m_Value; }
    /// The value, or nothing when the bytes were refused.
    std::optional<T> Value() && { return std::move(m_Value); }
    /// Why the bytes were refused; empty when a value was read.
    const QString& Why() const { return m_Why; }

private:
    Parsed() = default;
    std::optional<T> m_Value;
    QString m_Why;
};
