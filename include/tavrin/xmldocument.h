/// \file
/// An XML document parsed for inspection, without the application's classes: its elements in
/// document order with their names, attributes, texts and raw sections, and the reader's own
/// value readers over any element of it.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include <tavrin/export.h>
#include <tavrin/interfaces.h>

namespace Tavrin {

namespace Detail {
struct SXmlDocumentView;  ///< the parse tree, internal
}

/// One element of a parsed XML document (or the unnamed top record of a text that holds more
/// than one thing at its top level): a small handle, valid while its CXmlDocument lives and has
/// not parsed another text. A default-constructed handle is the empty element.
class TAVRIN_API CXmlElement {
public:
    CXmlElement() noexcept = default;

    /// True for the empty element.
    bool IsEmpty() const noexcept { return m_node == nullptr; }
    /// The name as written in the start tag; empty for the top record and the empty element.
    std::string_view GetName() const noexcept;
    /// Opened with "<?" (the XML declaration): everything after it in the text is its content.
    bool IsDeclaration() const noexcept;

    /// Child elements, in document order.
    int GetChildCount() const noexcept;
    CXmlElement GetChild(int index) const noexcept;  ///< empty when out of range

    /// Attributes of the start tag, in document order.
    int GetAttributeCount() const noexcept;
    /// The name of attribute `index`; empty when out of range.
    std::string_view GetAttributeName(int index) const noexcept;
    /// Null data for an attribute written without "=".
    std::string_view GetAttributeValue(int index) const noexcept;

    /// Text segments: trimmed, entities decoded.
    int GetTextCount() const noexcept;
    /// Text segment `index`; empty when out of range.
    std::string_view GetText(int index) const noexcept;

    /// Raw sections (CDATA, comments, DOCTYPE, ...): the bytes between the markers as written.
    int GetRawCount() const noexcept;
    /// Raw section `index`; empty when out of range.
    std::string_view GetRaw(int index) const noexcept;
    std::string_view GetRawMarker(int index) const noexcept;  ///< the open marker, e.g. "<![CDATA["

    /// Lets `target` read this element through the value reader that CReaderXml hands an
    /// application for a document element or nested value: the same conversions, results and
    /// exceptions, with the thread in the "C" locale meanwhile. Names and blob ranges handed
    /// out are valid until the call returns.
    void ReadObject(ISerializable& target) const;
    /// The same for a container element, through the reader's container reader.
    void ReadContainer(ISerializableContainer& target) const;

private:
    friend class CXmlDocument;
    CXmlElement(const void* tree, const void* node) noexcept : m_tree(tree), m_node(node) {}
    const void* m_tree = nullptr;  ///< the parse tree, internal
    const void* m_node = nullptr;  ///< the element's record in it; null for the empty element
};

/// Parses an XML document with the parser of CReaderXml.
class TAVRIN_API CXmlDocument {
public:
    CXmlDocument();
    ~CXmlDocument();
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    /// Parses the zero-terminated UTF-8 `text` (copied into the tree as needed). Returns false
    /// for a text that CReaderXml would find malformed (it then reads no values from it);
    /// GetStopOffset tells where. Missing end tags are accepted, as the reader accepts them.
    /// Handles from an earlier parse become invalid.
    bool Parse(const char* text);

    /// What the parse gave: for a document written by CWriterXml the declaration element, whose
    /// child is the document element; the empty element after a failed parse.
    CXmlElement GetRoot() const noexcept;

    /// After a failed parse: the byte offset in the text where the parser gave up. 0 otherwise.
    size_t GetStopOffset() const noexcept;

private:
    std::unique_ptr<Detail::SXmlDocumentView> m_view;
};

}  // namespace Tavrin
