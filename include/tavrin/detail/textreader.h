/// \file
/// What the JSON and XML readers share: the document text they read, borrowed from the caller
/// or taken over from a temporary string.
#pragma once

#include <memory>
#include <string>

#include <tavrin/interfaces.h>

namespace Tavrin::Detail {

/// Base of CReaderJson and CReaderXml: holds the document text, borrowed or taken over. Not
/// meant to be used on its own.
class TAVRIN_API CTextReader : public IReader {
public:
    /// Remembers `text` (zero-terminated), which is neither owned nor copied and must stay alive
    /// and unchanged while the reader is used. Implicit, so that a reader can be initialised
    /// from its text.
    CTextReader(const char* text);  // NOLINT(google-explicit-constructor)
    /// Remembers `text.c_str()`: the string must outlive the reader unchanged.
    CTextReader(const std::string& text);  // NOLINT(google-explicit-constructor)
    /// Takes over a temporary string (for example `stream.str()`), which the reader and its
    /// copies then keep alive.
    CTextReader(std::string&& text);  // NOLINT(google-explicit-constructor)
    /// Copies read the same text (a text taken over stays alive while any of them lives).
    ///@{
    CTextReader(const CTextReader& other);
    CTextReader& operator=(const CTextReader& other);
    ///@}
    ~CTextReader() override;

protected:
    /// The text; null when the reader was made from a null pointer.
    const char* Text() const noexcept { return m_text; }

private:
    std::shared_ptr<const std::string> m_owned;  ///< only for a text taken over from a temporary
    const char* m_text;
};

}  // namespace Tavrin::Detail
