// The XML reader. Each Read parses the text into a node tree that lives for that Read; the
// value readers look values up in the tree on demand and convert their text only when asked.
// The tree outlives every value reader of the Read, so they walk its records directly.
#include <tavrin/creaderxml.h>
#include <tavrin/xmldocument.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <tavrin/cexception.h>
#include <tavrin/qvdatetime.h>
#include <tavrin/qvvariant.h>

#include "core/basepool/chars.h"
#include "core/basepool/quicknumber.h"
#include "core/basepool/raise.h"
#include "core/basepool/utf.h"
#include "core/platform/threadlocale.h"
#include "core/tavrin/common/blobtext.h"
#include "core/tavrin/xml/cxmlnode.h"
#include "core/tavrin/xml/elementname.h"

namespace Tavrin {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && Detail::IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && Detail::IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

using Detail::CXmlTree;

// The first text segment, else the first raw section (a blob's CDATA), else "": a
// zero-terminated text, up to its first NUL.
std::string_view OtherElementText(const CXmlTree& tree, const SXmlNodeData& node) {
    if (CXmlTree::Kind(node) != CXmlTree::kExtra) return "";
    const SXmlNodeExtra& extra = *tree.Extra(node);
    if (extra.textCount > 0) return extra.texts[0];
    if (extra.clearCount > 0) return extra.clears[0].value;
    return "";
}

inline std::string_view ElementText(const CXmlTree& tree, const SXmlNodeData& node) {
    // Kinds 1 to 6: one text or raw section and nothing else, the usual value element.
    if (CXmlTree::Kind(node) - 1u < CXmlTree::kExtra - 1u) return tree.OnlyText(node);
    return OtherElementText(tree, node);
}

bool BoolText(const char* text, bool& value) {
    if (text == nullptr) return false;
    if (std::strcmp(text, "true") == 0) {
        value = true;
        return true;
    }
    if (std::strcmp(text, "false") == 0) {
        value = false;
        return true;
    }
    return false;
}

}  // namespace

class CContainerReaderXml;

// The IDataReader handed to an object: its values are the child elements of `node`.
class CDataReaderXml final : public IDataReader {
public:
    // `node` null (and `tree` then too) for the empty node.
    CDataReaderXml(const CXmlTree* tree, const SXmlNodeData* node)
        : m_tree(tree),
          m_children(node != nullptr ? tree->Children(*node) : nullptr),
          m_count(node != nullptr ? node->childCount : 0u) {}

    unsigned int GetNameCount() const override { return m_count; }

    const char* GetName(unsigned int index) const override {
        if (index >= m_count) return nullptr;
        return m_tree->Name(m_children[index]);
    }

    SBlobRange Read(const char* name) override;
    bool Read(const char* name, ISerializableContainer& value) override;
    bool Read(const char* name, ISerializable& value) override;
    bool Read(const char* name, IDateTime& value) override;
    bool Read(const char* name, std::wstring& value) override;
    bool Read(const char* name, std::string& value) override;
    bool Read(const char* name, char& value) override { return Convert(name, value); }
    bool Read(const char* name, double& value) override { return Convert(name, value); }
    bool Read(const char* name, float& value) override { return Convert(name, value); }
    bool Read(const char* name, long long& value) override { return Convert(name, value); }
    bool Read(const char* name, unsigned long long& value) override { return Convert(name, value); }
    bool Read(const char* name, int& value) override { return Convert(name, value); }
    bool Read(const char* name, unsigned int& value) override { return Convert(name, value); }
    bool Read(const char* name, short& value) override { return Convert(name, value); }
    bool Read(const char* name, unsigned short& value) override { return Convert(name, value); }
    bool Read(const char* name, signed char& value) override { return Convert(name, value); }
    bool Read(const char* name, unsigned char& value) override { return Convert(name, value); }
    bool Read(const char* name, bool& value) override;

private:
    // The index of the first child element named `name` ignoring case, or -1.
    int FindIndex(const char* name) const {
        if (name == nullptr || m_count == 0) return -1;  // the empty node has no tree
        const std::uint16_t key = Detail::ElementNameKey(name);
        const char* text = m_tree->Text();  // a child always has a name
        const SXmlNodeData* const begin = m_children;
        const SXmlNodeData* const end = begin + m_count;
        for (const SXmlNodeData* child = begin; child != end; ++child) {
            if (child->nameKey == key && Detail::SameElementName(text + child->name, name))
                return static_cast<int>(child - begin);
        }
        return -1;
    }

    // The first child element named `name` ignoring case, or null.
    const SXmlNodeData* Find(const char* name) const {
        const int index = FindIndex(name);
        return index >= 0 ? &m_children[index] : nullptr;
    }

    std::string_view ValueText(const SXmlNodeData& element) const {
        return Trim(ElementText(*m_tree, element));
    }

    template <typename T>
    bool Convert(const char* name, T& value) {
        const SXmlNodeData* element = Find(name);
        if (element == nullptr) return false;
        const std::string_view text = ValueText(*element);
        if (Detail::Variant::QuickNumber(text, value)) return true;
        QvVariant::ConvertText(text, QvVariant::ETextForm::Narrow, value);
        return true;
    }

    const CXmlTree* m_tree;
    const SXmlNodeData* m_children;  // the child elements, one after the other
    unsigned int m_count;
    Detail::CBlobCache m_blobs;  // by child index
};

// The IContainerReader handed to a container: its elements are the child elements of `node`
// in document order, whatever their names.
class CContainerReaderXml final : public IContainerReader {
public:
    // `node` null (and `tree` then too) for the empty node.
    CContainerReaderXml(const CXmlTree* tree, const SXmlNodeData* node)
        : m_tree(tree),
          m_elements(node != nullptr ? tree->Children(*node) : nullptr),
          m_count(node != nullptr ? node->childCount : 0u) {}

    SBlobRange Read(unsigned int index) override;
    bool Read(unsigned int index, ISerializableContainer& value) override;
    bool Read(unsigned int index, ISerializable& value) override;
    bool Read(unsigned int index, IDateTime& value) override;
    bool Read(unsigned int index, std::wstring& value) override;
    bool Read(unsigned int index, std::string& value) override;
    bool Read(unsigned int index, char& value) override { return Convert(index, value); }
    bool Read(unsigned int index, double& value) override { return Convert(index, value); }
    bool Read(unsigned int index, float& value) override { return Convert(index, value); }
    bool Read(unsigned int index, long long& value) override { return Convert(index, value); }
    bool Read(unsigned int index, unsigned long long& value) override {
        return Convert(index, value);
    }
    bool Read(unsigned int index, int& value) override { return Convert(index, value); }
    bool Read(unsigned int index, unsigned int& value) override { return Convert(index, value); }
    bool Read(unsigned int index, short& value) override { return Convert(index, value); }
    bool Read(unsigned int index, unsigned short& value) override { return Convert(index, value); }
    bool Read(unsigned int index, signed char& value) override { return Convert(index, value); }
    bool Read(unsigned int index, unsigned char& value) override { return Convert(index, value); }
    bool Read(unsigned int index, bool& value) override;

private:
    // Text of a scalar element (its data zero-terminated): only "elt" elements hold scalars.
    std::string_view readValue(unsigned int index) const {
        const SXmlNodeData& element = Element(index);
        if (std::strcmp(m_tree->Name(element), "elt") != 0)
            Detail::Raise(Detail::ERaise::XmlElementNotElt);
        return ElementText(*m_tree, element);
    }

    const SXmlNodeData& Element(unsigned int index) const { return m_elements[index]; }

    template <typename T>
    bool Convert(unsigned int index, T& value) {
        if (index >= m_count) return false;
        const std::string_view text = readValue(index);
        if (Detail::Variant::QuickNumber(text, value)) return true;
        QvVariant::ConvertText(text, QvVariant::ETextForm::Narrow, value);
        return true;
    }

    const CXmlTree* m_tree;
    const SXmlNodeData* m_elements;  // one after the other
    unsigned int m_count;
    Detail::CBlobCache m_blobs;
};

SBlobRange CDataReaderXml::Read(const char* name) {
    const int index = FindIndex(name);
    if (index < 0) return SBlobRange{};
    return m_blobs.Get(static_cast<unsigned int>(index), m_count, [&] {
        const std::string_view text = ValueText(m_children[index]);
        return text.empty() ? std::string_view() : text;
    });
}

bool CDataReaderXml::Read(const char* name, ISerializableContainer& value) {
    const SXmlNodeData* element = Find(name);
    if (element == nullptr) return false;
    CContainerReaderXml reader(m_tree, element);
    value.Read(reader);
    return true;
}

bool CDataReaderXml::Read(const char* name, ISerializable& value) {
    const SXmlNodeData* element = Find(name);
    if (element == nullptr) return false;
    CDataReaderXml reader(m_tree, element);
    value.Read(reader);
    return true;
}

bool CDataReaderXml::Read(const char* name, IDateTime& value) {
    const SXmlNodeData* element = Find(name);
    if (element == nullptr) return false;
    // The first text segment only; no text reads as the empty text, which does not parse.
    const char* text = m_tree->TextAt(*element, 0);
    const QvDateTime parsed(text != nullptr ? text : "");
    value.Assign(parsed);
    return true;
}

bool CDataReaderXml::Read(const char* name, std::wstring& value) {
    const SXmlNodeData* element = Find(name);
    if (element == nullptr) return false;
    std::wstring text;
    Detail::AppendFromUtf8(text, ValueText(*element));
    value = std::move(text);
    return true;
}

bool CDataReaderXml::Read(const char* name, std::string& value) {
    const SXmlNodeData* element = Find(name);
    if (element == nullptr) return false;
    value.assign(ValueText(*element));
    return true;
}

bool CDataReaderXml::Read(const char* name, bool& value) {
    const SXmlNodeData* element = Find(name);
    if (element == nullptr) return false;
    return BoolText(m_tree->TextAt(*element, 0), value);
}

SBlobRange CContainerReaderXml::Read(unsigned int index) {
    if (index >= m_count) return SBlobRange{};
    return m_blobs.Get(index, m_count, [&] {
        const std::string_view text = readValue(index);
        return Trim(text).empty() ? std::string_view() : text;
    });
}

bool CContainerReaderXml::Read(unsigned int index, ISerializableContainer& value) {
    if (index >= m_count) return false;
    CContainerReaderXml reader(m_tree, &Element(index));
    value.Read(reader);
    return true;
}

bool CContainerReaderXml::Read(unsigned int index, ISerializable& value) {
    if (index >= m_count) return false;
    CDataReaderXml reader(m_tree, &Element(index));
    value.Read(reader);
    return true;
}

bool CContainerReaderXml::Read(unsigned int index, IDateTime& value) {
    if (index >= m_count) return false;
    const QvDateTime parsed(readValue(index).data());
    value.Assign(parsed);
    return true;
}

bool CContainerReaderXml::Read(unsigned int index, std::wstring& value) {
    if (index >= m_count) return false;
    std::wstring text;
    Detail::AppendFromUtf8(text, readValue(index));
    value = std::move(text);
    return true;
}

bool CContainerReaderXml::Read(unsigned int index, std::string& value) {
    if (index >= m_count) return false;
    value.assign(readValue(index));
    return true;
}

bool CContainerReaderXml::Read(unsigned int index, bool& value) {
    if (index >= m_count) return false;
    return BoolText(readValue(index).data(), value);
}

namespace {

// Parses the text and finds the document element of `root`'s class; the empty node when the
// text does not parse or holds no such element.
template <typename TRoot>
CXmlNode FindDocumentElement(const char* text, const TRoot& root) {
    const CXmlNode document = CXmlNode::Parse(text);
    std::string name;
    Detail::AppendElementName(name, root.GetClassName());
    return document.GetChild(name.c_str(), nullptr);
}

}  // namespace

void CReaderXml::Read(ISerializable& object) const {
    Platform::CThreadLocaleGuard cLocale;
    const CXmlNode element = FindDocumentElement(Text(), object);
    CDataReaderXml reader(element.GetTree(), element.GetData());
    object.Read(reader);
}

void CReaderXml::Read(ISerializableContainer& container) const {
    Platform::CThreadLocaleGuard cLocale;
    const CXmlNode element = FindDocumentElement(Text(), container);
    CContainerReaderXml reader(element.GetTree(), element.GetData());
    container.Read(reader);
}

// ---- CXmlDocument: the parse tree for inspection ------------------------------------------

namespace Detail {
struct SXmlDocumentView {
    CXmlNode root;
    size_t stop = 0;
};
}  // namespace Detail

namespace {
const CXmlTree& TreeOf(const void* p) noexcept { return *static_cast<const CXmlTree*>(p); }
const SXmlNodeData& NodeOf(const void* p) noexcept { return *static_cast<const SXmlNodeData*>(p); }

std::string_view View(const char* text) noexcept {
    return text != nullptr ? std::string_view(text) : std::string_view();
}
}  // namespace

std::string_view CXmlElement::GetName() const noexcept {
    return m_node != nullptr ? View(TreeOf(m_tree).Name(NodeOf(m_node))) : std::string_view();
}

bool CXmlElement::IsDeclaration() const noexcept {
    return m_node != nullptr && CXmlTree::IsDeclaration(NodeOf(m_node));
}

int CXmlElement::GetChildCount() const noexcept {
    return m_node != nullptr ? static_cast<int>(NodeOf(m_node).childCount) : 0;
}

CXmlElement CXmlElement::GetChild(int index) const noexcept {
    if (index < 0 || index >= GetChildCount()) return {};
    const CXmlTree& tree = TreeOf(m_tree);
    return CXmlElement(m_tree,
                       &tree.Record(NodeOf(m_node).firstChild + static_cast<unsigned>(index)));
}

int CXmlElement::GetAttributeCount() const noexcept {
    const SXmlNodeExtra* extra = m_node != nullptr ? TreeOf(m_tree).Extra(NodeOf(m_node)) : nullptr;
    return extra != nullptr ? extra->attributeCount : 0;
}

std::string_view CXmlElement::GetAttributeName(int index) const noexcept {
    if (index < 0 || index >= GetAttributeCount()) return {};
    return View(TreeOf(m_tree).Extra(NodeOf(m_node))->attributes[index].name);
}

std::string_view CXmlElement::GetAttributeValue(int index) const noexcept {
    if (index < 0 || index >= GetAttributeCount()) return {};
    return View(TreeOf(m_tree).Extra(NodeOf(m_node))->attributes[index].value);
}

int CXmlElement::GetTextCount() const noexcept {
    return m_node != nullptr ? TreeOf(m_tree).TextCount(NodeOf(m_node)) : 0;
}

std::string_view CXmlElement::GetText(int index) const noexcept {
    return m_node != nullptr ? View(TreeOf(m_tree).TextAt(NodeOf(m_node), index))
                             : std::string_view();
}

int CXmlElement::GetRawCount() const noexcept {
    return m_node != nullptr ? TreeOf(m_tree).ClearCount(NodeOf(m_node)) : 0;
}

std::string_view CXmlElement::GetRaw(int index) const noexcept {
    if (m_node == nullptr) return {};
    return View(TreeOf(m_tree).ClearAt(NodeOf(m_node), index).value);
}

std::string_view CXmlElement::GetRawMarker(int index) const noexcept {
    if (m_node == nullptr) return {};
    return View(TreeOf(m_tree).ClearAt(NodeOf(m_node), index).openMarker);
}

void CXmlElement::ReadObject(ISerializable& target) const {
    Platform::CThreadLocaleGuard cLocale;
    CDataReaderXml reader(static_cast<const CXmlTree*>(m_tree),
                          static_cast<const SXmlNodeData*>(m_node));
    target.Read(reader);
}

void CXmlElement::ReadContainer(ISerializableContainer& target) const {
    Platform::CThreadLocaleGuard cLocale;
    CContainerReaderXml reader(static_cast<const CXmlTree*>(m_tree),
                               static_cast<const SXmlNodeData*>(m_node));
    target.Read(reader);
}

CXmlDocument::CXmlDocument() : m_view(std::make_unique<Detail::SXmlDocumentView>()) {}

CXmlDocument::~CXmlDocument() = default;

bool CXmlDocument::Parse(const char* text) {
    auto view = std::make_unique<Detail::SXmlDocumentView>();
    view->root = CXmlNode::Parse(text != nullptr ? text : "", &view->stop);
    m_view = std::move(view);
    return !m_view->root.IsEmpty();
}

CXmlElement CXmlDocument::GetRoot() const noexcept {
    return CXmlElement(m_view->root.GetTree(), m_view->root.GetData());
}

size_t CXmlDocument::GetStopOffset() const noexcept { return m_view->stop; }

}  // namespace Tavrin
