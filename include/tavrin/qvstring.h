/// \file
/// Narrow and wide string classes used as keys of keyed tables and by the string-object
/// stream operations. They hold the same characters as the standard strings and own them; a
/// null text constructs the empty string. Nothing here throws except for memory exhaustion.
#pragma once

#include <string>
#include <string_view>

/// A narrow string that owns its characters.
class QvStringA {
public:
    /// The empty string.
    QvStringA() = default;
    /// A copy of `text` up to its first NUL; null gives the empty string. Implicit, so that a
    /// text can stand where a QvStringA is expected.
    QvStringA(const char* text) : m_text(text ? text : "") {}  // NOLINT: implicit by design
    /// Takes over `text`, NULs inside included (implicit).
    QvStringA(std::string text) : m_text(std::move(text)) {}  // NOLINT: implicit by design
    /// A copy of the viewed characters, NULs inside included (implicit).
    QvStringA(std::string_view text) : m_text(text) {}  // NOLINT: implicit by design

    /// The zero-terminated text, valid until the string is changed or destroyed.
    const char* GetString() const noexcept { return m_text.c_str(); }
    /// As GetString().
    operator const char*() const noexcept { return m_text.c_str(); }  // NOLINT
    /// Number of characters held, NULs inside included.
    unsigned int GetLength() const noexcept { return static_cast<unsigned int>(m_text.size()); }
    /// The held standard string, for reading or changing in place.
    ///@{
    const std::string& Str() const noexcept { return m_text; }
    std::string& Str() noexcept { return m_text; }
    ///@}

    /// Zero-terminated comparison, as the text is used.
    friend bool operator==(const QvStringA& a, const QvStringA& b) noexcept {
        return std::string_view(a.m_text.c_str()) == std::string_view(b.m_text.c_str());
    }

private:
    std::string m_text;
};

/// A wide string that owns its characters; its members do what QvStringA's do.
class QvStringW {
public:
    /// The empty string.
    QvStringW() = default;
    /// A copy of `text` up to its first NUL; null gives the empty string (implicit).
    QvStringW(const wchar_t* text) : m_text(text ? text : L"") {}  // NOLINT
    /// Takes over `text`, NULs inside included (implicit).
    QvStringW(std::wstring text) : m_text(std::move(text)) {}  // NOLINT

    /// The zero-terminated text, valid until the string is changed or destroyed.
    const wchar_t* GetString() const noexcept { return m_text.c_str(); }
    /// As GetString().
    operator const wchar_t*() const noexcept { return m_text.c_str(); }  // NOLINT
    /// Number of characters held, NULs inside included.
    unsigned int GetLength() const noexcept { return static_cast<unsigned int>(m_text.size()); }
    /// The held standard string, for reading or changing in place.
    ///@{
    const std::wstring& Str() const noexcept { return m_text; }
    std::wstring& Str() noexcept { return m_text; }
    ///@}

    /// Zero-terminated comparison, as the text is used.
    friend bool operator==(const QvStringW& a, const QvStringW& b) noexcept {
        return std::wstring_view(a.m_text.c_str()) == std::wstring_view(b.m_text.c_str());
    }

private:
    std::wstring m_text;
};
