/// \file
/// A JSON document parsed for inspection, without the application's classes: its members and
/// elements in document order, each value's text as the document holds it, and the reader's own
/// value readers over any object or array of it.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include <tavrin/export.h>
#include <tavrin/interfaces.h>

namespace Tavrin {

namespace Detail {
struct SJsonDocumentView;  ///< the parse tree, internal
}

/// One value of a parsed JSON document: a small handle, valid while its CJsonDocument lives
/// and has not parsed another text. A default-constructed handle is a null value.
class TAVRIN_API CJsonValue {
public:
    /// What a value is.
    enum class EType {
        Null,    ///< JSON null in an array, or no value (an absent member, an index out of range)
        Bare,    ///< unquoted text: a number, true, false or anything else unquoted
        String,  ///< quoted text
        Object,
        Array,
    };

    CJsonValue() noexcept = default;

    /// What this value is.
    EType GetType() const noexcept;
    /// Bare and quoted values: the text as written (for strings between the quotes, escapes
    /// not decoded); empty for other types.
    std::string_view GetText() const noexcept;

    /// Objects: members (null members are not kept; a repeated name keeps the later value in
    /// the earlier place); arrays: elements, null ones included. 0 for other types.
    unsigned int GetCount() const noexcept;
    /// Objects: the name of member `index` as written (escapes not decoded); empty otherwise.
    std::string_view GetMemberName(unsigned int index) const noexcept;
    /// Member value or element at `index`; a null value when out of range.
    CJsonValue GetChild(unsigned int index) const noexcept;
    /// Objects: the member with exactly these name bytes; a null value when absent.
    CJsonValue Find(std::string_view name) const noexcept;

    /// Lets `target` read this object (or array) through the value reader that CReaderJson
    /// hands an application for it: the same conversions, the same results, the same
    /// exceptions, with the thread in the "C" locale meanwhile. Returns false, reading nothing,
    /// when this value is not an object (an array). Names and blob ranges handed out are valid
    /// until the call returns.
    bool ReadObject(ISerializable& target) const;
    /// The same for an array, through the reader's container reader.
    bool ReadContainer(ISerializableContainer& target) const;

private:
    friend class CJsonDocument;
    CJsonValue(const char* text, const void* element) noexcept : m_text(text), m_element(element) {}
    const char* m_text = nullptr;  ///< the document text, where the tree's offsets count from
    const void* m_element = nullptr;
};

/// Parses a JSON document with the parser of CReaderJson.
class TAVRIN_API CJsonDocument {
public:
    CJsonDocument();
    ~CJsonDocument();
    CJsonDocument(const CJsonDocument&) = delete;
    CJsonDocument& operator=(const CJsonDocument&) = delete;

    /// Parses the zero-terminated `text`, which is not copied: it must stay alive and unchanged
    /// while values of this document are used. A text whose first non-space byte is '[' is
    /// parsed as a container document, any other as an object document, exactly as
    /// CReaderJson::Read does for either root. Handles from an earlier parse become invalid.
    /// Throws the CException of CReaderJson's parse for malformed text; GetStopOffset then
    /// tells where parsing stopped.
    void Parse(const char* text);

    /// The root (an object or an array) of the last successful parse; a null value otherwise.
    CJsonValue GetRoot() const noexcept;

    /// After Parse threw for malformed text: the byte offset in the text where parsing stopped
    /// (the byte that did not fit, or the end of the text). 0 otherwise.
    size_t GetStopOffset() const noexcept;

private:
    std::unique_ptr<Detail::SJsonDocumentView> m_view;
};

}  // namespace Tavrin
