// The JSON reader: parses the document into a tree (jsonparser.cpp) and hands the application
// value readers over it; values stay text until the application asks for a type.
#include <tavrin/creaderjson.h>
#include <tavrin/jsondocument.h>

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <tavrin/cexception.h>
#include <tavrin/qvdatetime.h>
#include <tavrin/qvvariant.h>

#include "core/basepool/chars.h"
#include "core/basepool/quicknumber.h"
#include "core/basepool/qvvariantrules.h"
#include "core/basepool/utf.h"
#include "core/platform/threadlocale.h"
#include "core/tavrin/common/blobtext.h"
#include "core/tavrin/common/keyorder.h"
#include "core/tavrin/common/namehash.h"
#include "core/tavrin/json/sjsonelement.h"

namespace Tavrin {
namespace {

// The wide text a bare value stands for: each byte one character, bytes 0x80-0xFF sign-extended
// to U+FF80-U+FFFF.
std::wstring WidenBare(std::string_view text) {
    std::wstring wide(text.size(), L'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        wide[i] = static_cast<wchar_t>(static_cast<uint16_t>(static_cast<signed char>(text[i])));
    }
    return wide;
}

void FromVariant(const QvVariant& v, char& target) { target = v.ToChar(); }
void FromVariant(const QvVariant& v, signed char& target) { target = v.ToInt8(); }
void FromVariant(const QvVariant& v, unsigned char& target) { target = v.ToUInt8(); }
void FromVariant(const QvVariant& v, short& target) { target = v.ToInt16(); }
void FromVariant(const QvVariant& v, unsigned short& target) { target = v.ToUInt16(); }
void FromVariant(const QvVariant& v, int& target) { target = v.ToInt32(); }
void FromVariant(const QvVariant& v, unsigned int& target) { target = v.ToUInt32(); }
void FromVariant(const QvVariant& v, long long& target) { target = v.ToInt64(); }
void FromVariant(const QvVariant& v, unsigned long long& target) { target = v.ToUInt64(); }
void FromVariant(const QvVariant& v, float& target) { target = v.ToFloat(); }
void FromVariant(const QvVariant& v, double& target) { target = v.ToDouble(); }

// What the variant holding the value's text gives for T: a quoted string is held as narrow
// text, a bare value as wide text. For ASCII text the wide form is the bytes themselves.
template <class T>
void ConvertValue(std::string_view text, const SJsonElement& value, T& target) {
    if (Detail::Variant::QuickNumber(text, target)) return;
    if (value.IsQuoted()) {
        QvVariant::ConvertText(text, QvVariant::ETextForm::Narrow, target);
    } else if (Detail::IsAscii(text)) {
        QvVariant::ConvertText(text, QvVariant::ETextForm::Wide, target);
    } else {
        FromVariant(QvVariant(WidenBare(text)), target);
    }
}

// The value's text as a narrow string, escapes not yet decoded, into `out`.
void NarrowText(std::string_view text, const SJsonElement& value, std::string& out) {
    if (value.IsQuoted() || Detail::IsAscii(text)) {
        out.assign(text.data(), text.size());
    } else {
        out = QvVariant(WidenBare(text)).ToStringA();
    }
}

// Decodes the escapes \" \/ \\ \b \f \n \r \t in place; any other backslash stays as it is.
void DecodeEscapes(std::string& text) {
    size_t in = text.find('\\');
    if (in == std::string::npos) return;
    char* s = text.data();
    const size_t n = text.size();
    size_t out = in;
    while (in < n) {
        const char c = s[in];
        if (c != '\\' || in + 1 == n) {
            s[out++] = c;
            ++in;
            continue;
        }
        char decoded = 0;
        switch (s[in + 1]) {
            case '"': decoded = '"'; break;
            case '/': decoded = '/'; break;
            case '\\': decoded = '\\'; break;
            case 'b': decoded = '\b'; break;
            case 'f': decoded = '\f'; break;
            case 'n': decoded = '\n'; break;
            case 'r': decoded = '\r'; break;
            case 't': decoded = '\t'; break;
            default: decoded = 0; break;
        }
        if (decoded == 0) {
            s[out++] = '\\';
            ++in;
        } else {
            s[out++] = decoded;
            in += 2;
        }
    }
    text.resize(out);
}

// Reading one element, shared by the object and the container reader. `value` is null when the
// name is absent, the index out of range or the element null; `doc` is the document text.

template <class T>
bool ReadScalar(const char* doc, const SJsonElement* value, T& target) {
    if (value == nullptr || !value->IsValue()) return false;
    ConvertValue(value->GetText(doc), *value, target);
    return true;
}

bool ReadBool(const char* doc, const SJsonElement* value, bool& target) {
    if (value == nullptr || !value->IsValue()) return false;
    // Only ASCII text can be "true" or "false", and ASCII text is its own narrow form.
    const std::string_view text = value->GetText(doc);
    target = text == "true";
    return target || text == "false";
}

bool ReadString(const char* doc, const SJsonElement* value, std::string& target) {
    if (value == nullptr || !value->IsValue()) return false;
    const std::string_view raw = value->GetText(doc);
    if (value->IsQuoted() || Detail::IsAscii(raw)) {
        target.assign(raw);  // all or nothing
    } else {
        std::string text;
        NarrowText(raw, *value, text);
        target = std::move(text);
    }
    if (value->MayHoldEscapes()) DecodeEscapes(target);
    return true;
}

bool ReadWide(const char* doc, const SJsonElement* value, std::wstring& target,
              std::string& scratch) {
    if (value == nullptr || !value->IsValue()) return false;
    // A quoted string without escapes is its own narrow text, decoded: no copy needed.
    std::string_view text = value->GetText(doc);
    if (value->MayHoldEscapes()) {
        NarrowText(text, *value, scratch);
        DecodeEscapes(scratch);
        text = scratch;
    }
    // Reserving first keeps the target as it was if memory runs out.
    target.reserve(text.size());
    target.clear();
    Detail::AppendFromUtf8(target, text);
    return true;
}

bool ReadDateTime(const char* doc, const SJsonElement* value, IDateTime& target) {
    if (value == nullptr || !value->IsValue()) return false;
    const std::string_view text = value->GetText(doc);
    if (value->IsQuoted()) {
        target.Assign(QvDateTime(text, false));
    } else {
        const std::wstring wide = WidenBare(text);
        target.Assign(QvDateTime(std::wstring_view(wide), false));
    }
    return true;
}

// The Base64 text of a blob value, read in place unless a bare value outside ASCII takes the
// variant's way into `scratch`; a view with null data for a value that is no text.
std::string_view BlobText(const char* doc, const SJsonElement* value, std::string& scratch) {
    if (value == nullptr || !value->IsValue()) return {};
    const std::string_view text = value->GetText(doc);
    if (value->IsQuoted() || Detail::IsAscii(text)) return text;
    NarrowText(text, *value, scratch);
    return scratch;
}

// The blobs that one value reader has decoded, by slot (a member's or element's index).
class CBlobs {
public:
    // As CBlobCache::Get, `value` the element of `slot` (null for none).
    SBlobRange Get(const char* doc, unsigned int slot, unsigned int count,
                   const SJsonElement* value) {
        return m_cache.Get(slot, count, [&] { return BlobText(doc, value, m_scratch); });
    }

private:
    Detail::CBlobCache m_cache;
    std::string m_scratch;
};

class CContainerReaderJson;

class CDataReaderJson final : public IDataReader {
public:
    CDataReaderJson(const char* doc, const SJsonElement& object)
        : m_doc(doc),
          m_object(&object),
          m_members(object.GetMembers()),
          m_count(object.GetMemberCount()) {}
    CDataReaderJson(const CDataReaderJson&) = delete;
    CDataReaderJson& operator=(const CDataReaderJson&) = delete;

    unsigned int GetNameCount() const override { return m_count; }

    // Null when `index` is not below GetNameCount().
    const char* GetName(unsigned int index) const override {
        if (index >= m_count) return nullptr;
        if (m_nameOffsets.empty()) CollectNames();
        return m_names.c_str() + m_nameOffsets[index];
    }

    SBlobRange Read(const char* name) override {
        const SJsonMember* member = FindMember(name);
        if (member == nullptr) return {};
        const auto index = static_cast<unsigned int>(member - m_members);
        return m_blobs.Get(m_doc, index, m_count, &member->element);
    }
    bool Read(const char* name, ISerializableContainer& value) override;
    bool Read(const char* name, ISerializable& value) override;
    bool Read(const char* name, IDateTime& value) override {
        return ReadDateTime(m_doc, Find(name), value);
    }
    bool Read(const char* name, std::wstring& value) override {
        return ReadWide(m_doc, Find(name), value, m_scratch);
    }
    bool Read(const char* name, std::string& value) override {
        return ReadString(m_doc, Find(name), value);
    }
    bool Read(const char* name, char& value) override {
        return ReadScalar(m_doc, Find(name), value);
    }
    bool Read(const char* name, double& value) override {
        return ReadScalar(m_doc, Find(name), value);
    }
    bool Read(const char* name, float& value) override {
        return ReadScalar(m_doc, Find(name), value);
    }
    bool Read(const char* name, long long& value) override {
        return ReadScalar(m_doc, Find(name), value);
    }
    bool Read(const char* name, unsigned long long& value) override {
        return ReadScalar(m_doc, Find(name), value);
    }
    bool Read(const char* name, int& value) override {
        return ReadScalar(m_doc, Find(name), value);
    }
    bool Read(const char* name, unsigned int& value) override {
        return ReadScalar(m_doc, Find(name), value);
    }
    bool Read(const char* name, short& value) override {
        return ReadScalar(m_doc, Find(name), value);
    }
    bool Read(const char* name, unsigned short& value) override {
        return ReadScalar(m_doc, Find(name), value);
    }
    bool Read(const char* name, signed char& value) override {
        return ReadScalar(m_doc, Find(name), value);
    }
    bool Read(const char* name, unsigned char& value) override {
        return ReadScalar(m_doc, Find(name), value);
    }
    bool Read(const char* name, bool& value) override { return ReadBool(m_doc, Find(name), value); }

private:
    // Whether the member's name has the bytes of the zero-terminated `name`. Compares byte by
    // byte, so that `name` is not read past its end (a name in the document holds no zero).
    bool HasName(const SJsonMember& member, const char* name) const noexcept {
        const unsigned int length = member.nameLength;
        const char* stored = m_doc + member.nameOffset;
        for (unsigned int i = 0; i < length; ++i) {
            if (name[i] != stored[i]) return false;
        }
        return name[length] == '\0';
    }

    // Applications mostly read the values in the order in which they were written: the member
    // after the one found last is tried first. Names are unique within an object, so the
    // member found is the same whichever way it is found.
    const SJsonMember* FindMember(const char* name) const {
        if (name == nullptr) return nullptr;
        const unsigned int count = m_count;
        if (m_next < count && HasName(m_members[m_next], name)) {
            return &m_members[m_next++];
        }
        const SJsonMember* member = nullptr;
        if (count > kScanLimit) {
            member = m_object->FindMember(m_doc, name);
        } else {
            for (unsigned int i = 0; i < count; ++i) {
                if (HasName(m_members[i], name)) {
                    member = &m_members[i];
                    break;
                }
            }
        }
        if (member != nullptr) {
            m_next = static_cast<unsigned int>(member - m_members) + 1;
        }
        return member;
    }
    const SJsonElement* Find(const char* name) const {
        const SJsonMember* member = FindMember(name);
        return member != nullptr ? &member->element : nullptr;
    }

    // Zero-terminated copies of the names, in the order in which the keyed table that the
    // members stand for would hand them out.
    void CollectNames() const {
        const unsigned int count = m_count;
        std::vector<uint32_t> hashes(count);
        for (unsigned int i = 0; i < count; ++i) {
            const std::string_view name = m_members[i].GetName(m_doc);
            hashes[i] = static_cast<uint32_t>(Detail::KeyHash(name.data(), name.size()));
        }
        std::vector<uint32_t> order(count);
        Detail::KeyedTableOrder(hashes.data(), count, order.data());
        std::vector<unsigned int> offsets;
        offsets.reserve(count);
        std::string names;
        for (const unsigned int i : order) {
            offsets.push_back(static_cast<unsigned int>(names.size()));
            names.append(m_members[i].GetName(m_doc));
            names.push_back('\0');
        }
        m_names = std::move(names);
        m_nameOffsets = std::move(offsets);
    }

    // Objects up to this many members are searched member by member, larger ones through
    // their index.
    static constexpr unsigned int kScanLimit = 16;

    const char* m_doc;  // the document text
    const SJsonElement* m_object;
    const SJsonMember* m_members;  // the object's, kept at hand for the lookups
    unsigned int m_count;
    mutable unsigned int m_next = 0;  // the member after the one found last
    mutable std::string m_names;
    mutable std::vector<unsigned int> m_nameOffsets;
    CBlobs m_blobs;
    std::string m_scratch;
};

class CContainerReaderJson final : public IContainerReader {
public:
    CContainerReaderJson(const char* doc, const SJsonElement& array)
        : m_doc(doc), m_array(&array), m_count(array.GetElementCount()) {}
    CContainerReaderJson(const CContainerReaderJson&) = delete;
    CContainerReaderJson& operator=(const CContainerReaderJson&) = delete;

    SBlobRange Read(unsigned int index) override {
        if (index >= m_count) return {};
        return m_blobs.Get(m_doc, index, m_count, m_array->GetElement(index));
    }
    bool Read(unsigned int index, ISerializableContainer& value) override;
    bool Read(unsigned int index, ISerializable& value) override;
    bool Read(unsigned int index, IDateTime& value) override {
        return ReadDateTime(m_doc, Find(index), value);
    }
    bool Read(unsigned int index, std::wstring& value) override {
        return ReadWide(m_doc, Find(index), value, m_scratch);
    }
    bool Read(unsigned int index, std::string& value) override {
        return ReadString(m_doc, Find(index), value);
    }
    bool Read(unsigned int index, char& value) override {
        return ReadScalar(m_doc, Find(index), value);
    }
    bool Read(unsigned int index, double& value) override {
        return ReadScalar(m_doc, Find(index), value);
    }
    bool Read(unsigned int index, float& value) override {
        return ReadScalar(m_doc, Find(index), value);
    }
    bool Read(unsigned int index, long long& value) override {
        return ReadScalar(m_doc, Find(index), value);
    }
    bool Read(unsigned int index, unsigned long long& value) override {
        return ReadScalar(m_doc, Find(index), value);
    }
    bool Read(unsigned int index, int& value) override {
        return ReadScalar(m_doc, Find(index), value);
    }
    bool Read(unsigned int index, unsigned int& value) override {
        return ReadScalar(m_doc, Find(index), value);
    }
    bool Read(unsigned int index, short& value) override {
        return ReadScalar(m_doc, Find(index), value);
    }
    bool Read(unsigned int index, unsigned short& value) override {
        return ReadScalar(m_doc, Find(index), value);
    }
    bool Read(unsigned int index, signed char& value) override {
        return ReadScalar(m_doc, Find(index), value);
    }
    bool Read(unsigned int index, unsigned char& value) override {
        return ReadScalar(m_doc, Find(index), value);
    }
    bool Read(unsigned int index, bool& value) override {
        return ReadBool(m_doc, Find(index), value);
    }

private:
    const SJsonElement* Find(unsigned int index) const {
        return index < m_count ? m_array->GetElement(index) : nullptr;
    }

    const char* m_doc;  // the document text
    const SJsonElement* m_array;
    unsigned int m_count;  // elements
    CBlobs m_blobs;
    std::string m_scratch;
};

bool ReadObject(const char* doc, const SJsonElement* value, ISerializable& target) {
    if (value == nullptr || value->GetKind() != SJsonElement::KindObject) return false;
    CDataReaderJson reader(doc, *value);
    target.Read(reader);
    return true;
}

bool ReadContainer(const char* doc, const SJsonElement* value, ISerializableContainer& target) {
    if (value == nullptr || value->GetKind() != SJsonElement::KindArray) return false;
    CContainerReaderJson reader(doc, *value);
    target.Read(reader);
    return true;
}

bool CDataReaderJson::Read(const char* name, ISerializableContainer& value) {
    return ReadContainer(m_doc, Find(name), value);
}

bool CDataReaderJson::Read(const char* name, ISerializable& value) {
    return ReadObject(m_doc, Find(name), value);
}

bool CContainerReaderJson::Read(unsigned int index, ISerializableContainer& value) {
    return ReadContainer(m_doc, Find(index), value);
}

bool CContainerReaderJson::Read(unsigned int index, ISerializable& value) {
    return ReadObject(m_doc, Find(index), value);
}

// Parses the whole text into a tree (an object or an array at the root) and lets `target`
// read from it, the thread in the "C" locale throughout.
template <class Reader, class Target, class Parse>
void ReadDocument(const char* text, unsigned int rootKind, Parse parse, Target& target) {
    const Platform::CThreadLocaleGuard cLocale;
    CJsonNodePool pool;
    SJsonElement root(rootKind);
    if (text == nullptr) text = "";
    parse(text, root, pool);
    Reader reader(text, root);
    target.Read(reader);
}

}  // namespace

void CReaderJson::Read(ISerializable& object) const {
    ReadDocument<CDataReaderJson>(Text(), SJsonElement::KindObject, ParseObject, object);
}

void CReaderJson::Read(ISerializableContainer& container) const {
    ReadDocument<CContainerReaderJson>(Text(), SJsonElement::KindArray, ParseArray, container);
}

// ---- CJsonDocument: the parse tree for inspection ----------------------------------------

namespace Detail {
struct SJsonDocumentView {
    CJsonNodePool pool;
    SJsonElement root{SJsonElement::KindObject};
    const char* text = "";
    bool parsed = false;
    size_t stop = 0;
};
}  // namespace Detail

namespace {
const SJsonElement* ElementOf(const void* p) noexcept {
    return static_cast<const SJsonElement*>(p);
}
}  // namespace

CJsonValue::EType CJsonValue::GetType() const noexcept {
    const SJsonElement* e = ElementOf(m_element);
    if (e == nullptr) return EType::Null;
    switch (e->GetKind()) {
        case SJsonElement::KindObject: return EType::Object;
        case SJsonElement::KindArray: return EType::Array;
        default: return e->IsQuoted() ? EType::String : EType::Bare;
    }
}

std::string_view CJsonValue::GetText() const noexcept {
    const SJsonElement* e = ElementOf(m_element);
    return e != nullptr ? e->GetText(m_text) : std::string_view();
}

unsigned int CJsonValue::GetCount() const noexcept {
    const SJsonElement* e = ElementOf(m_element);
    if (e == nullptr) return 0;
    return e->GetKind() == SJsonElement::KindObject ? e->GetMemberCount() : e->GetElementCount();
}

std::string_view CJsonValue::GetMemberName(unsigned int index) const noexcept {
    const SJsonElement* e = ElementOf(m_element);
    if (e == nullptr || index >= e->GetMemberCount()) return {};
    return e->GetMember(index).GetName(m_text);
}

CJsonValue CJsonValue::GetChild(unsigned int index) const noexcept {
    const SJsonElement* e = ElementOf(m_element);
    if (e == nullptr) return {};
    if (e->GetKind() == SJsonElement::KindObject) {
        return index < e->GetMemberCount() ? CJsonValue(m_text, &e->GetMember(index).element)
                                           : CJsonValue();
    }
    return index < e->GetElementCount() ? CJsonValue(m_text, e->GetElement(index)) : CJsonValue();
}

CJsonValue CJsonValue::Find(std::string_view name) const noexcept {
    const SJsonElement* e = ElementOf(m_element);
    if (e == nullptr || e->GetKind() != SJsonElement::KindObject) return {};
    const SJsonMember* m = e->FindMember(m_text, name);
    return m != nullptr ? CJsonValue(m_text, &m->element) : CJsonValue();
}

bool CJsonValue::ReadObject(ISerializable& target) const {
    const Platform::CThreadLocaleGuard cLocale;
    return Tavrin::ReadObject(m_text, ElementOf(m_element), target);
}

bool CJsonValue::ReadContainer(ISerializableContainer& target) const {
    const Platform::CThreadLocaleGuard cLocale;
    return Tavrin::ReadContainer(m_text, ElementOf(m_element), target);
}

CJsonDocument::CJsonDocument() : m_view(std::make_unique<Detail::SJsonDocumentView>()) {}

CJsonDocument::~CJsonDocument() = default;

void CJsonDocument::Parse(const char* text) {
    auto view = std::make_unique<Detail::SJsonDocumentView>();
    if (text == nullptr) text = "";
    const char* p = text;
    while (Detail::IsSpaceByte(*p)) ++p;
    const Platform::CThreadLocaleGuard cLocale;
    try {
        if (*p == '[') {
            view->root = SJsonElement(SJsonElement::KindArray);
            ParseArray(text, view->root, view->pool);
        } else {
            ParseObject(text, view->root, view->pool);
        }
    } catch (...) {
        const char* stop = LastParseStop();
        const size_t length = std::char_traits<char>::length(text);
        m_view = std::make_unique<Detail::SJsonDocumentView>();
        m_view->stop = stop >= text && stop <= text + length ? static_cast<size_t>(stop - text) : 0;
        throw;
    }
    view->text = text;
    view->parsed = true;
    m_view = std::move(view);
}

CJsonValue CJsonDocument::GetRoot() const noexcept {
    return m_view->parsed ? CJsonValue(m_view->text, &m_view->root) : CJsonValue();
}

size_t CJsonDocument::GetStopOffset() const noexcept { return m_view->stop; }

}  // namespace Tavrin
