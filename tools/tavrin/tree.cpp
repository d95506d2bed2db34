// Value trees: replaying documents through the writers, reading text documents into trees,
// and ordering a tree after a binary document of the same shape.
#include "tree.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <queue>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace TavrinTool {

using Tavrin::CBinaryDocument;
using Tavrin::SBinaryNode;

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

template <class T>
T FromBits(uint64_t bits) {
    T v;
    std::memcpy(&v, &bits, sizeof(T));
    return v;
}

template <class T>
uint64_t ToBits(T v) {
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof(T));
    return bits;
}

// Writes one scalar, text, date-time or blob value; `name` is empty for container writers.
template <class W, class... Name>
void WriteLeaf(W& w, EValueKind kind, uint64_t bits, const void* data, uint64_t size,
               const std::string* text, const std::wstring* wide, Name... name) {
    switch (kind) {
        case EValueKind::Bool: w.Write(name..., bits != 0); break;
        case EValueKind::Char: w.Write(name..., static_cast<char>(bits)); break;
        case EValueKind::UInt8: w.Write(name..., static_cast<unsigned char>(bits)); break;
        case EValueKind::Int8: w.Write(name..., static_cast<signed char>(bits)); break;
        case EValueKind::UInt16: w.Write(name..., static_cast<unsigned short>(bits)); break;
        case EValueKind::Int16: w.Write(name..., static_cast<short>(bits)); break;
        case EValueKind::UInt32: w.Write(name..., static_cast<unsigned int>(bits)); break;
        case EValueKind::Int32: w.Write(name..., static_cast<int>(bits)); break;
        case EValueKind::UInt64: w.Write(name..., static_cast<unsigned long long>(bits)); break;
        case EValueKind::Int64: w.Write(name..., static_cast<long long>(bits)); break;
        case EValueKind::Float: w.Write(name..., FromBits<float>(bits)); break;
        case EValueKind::Double: w.Write(name..., FromBits<double>(bits)); break;
        case EValueKind::String:
            if (text != nullptr) {
                w.Write(name..., *text);
            } else {
                w.Write(name..., std::string(static_cast<const char*>(data), size));
            }
            break;
        case EValueKind::WString: w.Write(name..., *wide); break;
        case EValueKind::DateTime: {
            const QvDateTime t = QvDateTime::FromFileTime(bits);
            w.Write(name..., static_cast<const Tavrin::IDateTime&>(t));
            break;
        }
        case EValueKind::Blob: w.Write(name..., static_cast<size_t>(size), data); break;
        default: break;
    }
}

// ---- A decoded binary document as application objects --------------------------------------

struct SNodeContext {
    const CBinaryDocument& document;
    CProgress* progress;
};

class CNodeObject final : public Tavrin::ISerializable {
public:
    CNodeObject(const SNodeContext& c, const SBinaryNode& n, const char* cls)
        : m_c(c), m_n(n), m_class(cls) {}
    const char* GetClassName() const override { return m_class; }
    void Write(Tavrin::IDataWriter& w) const override;
    void Read(Tavrin::IDataReader&) override {}

private:
    const SNodeContext& m_c;
    const SBinaryNode& m_n;
    const char* m_class;
};

class CNodeContainer final : public Tavrin::ISerializableContainer {
public:
    CNodeContainer(const SNodeContext& c, const SBinaryNode& n, const char* cls)
        : m_c(c), m_n(n), m_class(cls) {}
    const char* GetClassName() const override { return m_class; }
    void Write(Tavrin::IContainerWriter& w) const override;
    void Read(Tavrin::IContainerReader&) override {}

private:
    const SNodeContext& m_c;
    const SBinaryNode& m_n;
    const char* m_class;
};

template <class W, class... Name>
void WriteNode(const SNodeContext& c, const SBinaryNode& n, W& w, Name... name) {
    if (c.progress != nullptr) c.progress->Step();
    // Class name texts of the name table are zero-terminated.
    const char* cls =
        n.className != SBinaryNode::kNone
            ? c.document.GetName(n.className).data()
            : (n.kind == EValueKind::Object ? kDefaultObjectClass : kDefaultContainerClass);
    switch (n.kind) {
        case EValueKind::Object: {
            const CNodeObject o(c, n, cls);
            w.Write(name..., static_cast<const Tavrin::ISerializable&>(o));
            break;
        }
        case EValueKind::Container: {
            const CNodeContainer o(c, n, cls);
            w.Write(name..., static_cast<const Tavrin::ISerializableContainer&>(o));
            break;
        }
        case EValueKind::WString: {
            const std::wstring wide = CBinaryDocument::WideText(n);
            WriteLeaf(w, n.kind, n.bits, n.data, n.size, nullptr, &wide, name...);
            break;
        }
        default: WriteLeaf(w, n.kind, n.bits, n.data, n.size, nullptr, nullptr, name...); break;
    }
}

void CNodeObject::Write(Tavrin::IDataWriter& w) const {
    const SBinaryNode* children = m_n.Children();
    for (uint64_t i = 0; i < m_n.size; ++i) {
        WriteNode(m_c, children[i], w, m_c.document.GetName(children[i].name).data());
    }
}

void CNodeContainer::Write(Tavrin::IContainerWriter& w) const {
    const SBinaryNode* children = m_n.Children();
    for (uint64_t i = 0; i < m_n.size; ++i) WriteNode(m_c, children[i], w);
}

// ---- A value tree as application objects ------------------------------------------------------

class CTreeObject final : public Tavrin::ISerializable {
public:
    CTreeObject(const SValue& v, CProgress* p) : m_v(v), m_p(p) {}
    const char* GetClassName() const override { return m_v.className.c_str(); }
    void Write(Tavrin::IDataWriter& w) const override;
    void Read(Tavrin::IDataReader&) override {}

private:
    const SValue& m_v;
    CProgress* m_p;
};

class CTreeContainer final : public Tavrin::ISerializableContainer {
public:
    CTreeContainer(const SValue& v, CProgress* p) : m_v(v), m_p(p) {}
    const char* GetClassName() const override { return m_v.className.c_str(); }
    void Write(Tavrin::IContainerWriter& w) const override;
    void Read(Tavrin::IContainerReader&) override {}

private:
    const SValue& m_v;
    CProgress* m_p;
};

template <class W, class... Name>
void WriteValue(const SValue& v, CProgress* p, W& w, Name... name) {
    if (!v.present) return;
    if (p != nullptr) p->Step();
    switch (v.kind) {
        case EValueKind::Object: {
            const CTreeObject o(v, p);
            w.Write(name..., static_cast<const Tavrin::ISerializable&>(o));
            break;
        }
        case EValueKind::Container: {
            const CTreeContainer o(v, p);
            w.Write(name..., static_cast<const Tavrin::ISerializableContainer&>(o));
            break;
        }
        default:
            WriteLeaf(w, v.kind, v.bits, v.bytes.data(), v.bytes.size(), &v.bytes, &v.wide,
                      name...);
            break;
    }
}

void CTreeObject::Write(Tavrin::IDataWriter& w) const {
    if (m_v.order.size() == m_v.children.size()) {
        for (const uint32_t i : m_v.order) {
            WriteValue(m_v.children[i], m_p, w, m_v.children[i].name.c_str());
        }
    } else {
        for (const SValue& c : m_v.children) WriteValue(c, m_p, w, c.name.c_str());
    }
}

void CTreeContainer::Write(Tavrin::IContainerWriter& w) const {
    for (const SValue& c : m_v.children) WriteValue(c, m_p, w);
}

}  // namespace

CProgress::CProgress(const char* what, uint64_t total)
    : m_what(what),
      m_total(total),
      m_start(NowMs()),
      m_terminal(Tavrin::Console::IsTerminal(Tavrin::Console::EStream::Error)) {}

CProgress::~CProgress() {
    if (m_shown) std::fprintf(stderr, "\r%60s\r", "");
}

void CProgress::Show() {
    if (!m_terminal || NowMs() - m_start < 1000) return;
    m_shown = true;
    if (m_total != 0) {
        std::fprintf(stderr, "\rtavrin: %s: %llu of %llu values (%u%%)   ", m_what,
                     static_cast<unsigned long long>(m_done),
                     static_cast<unsigned long long>(m_total),
                     static_cast<unsigned>(m_done * 100 / m_total));
    } else {
        std::fprintf(stderr, "\rtavrin: %s: %llu values   ", m_what,
                     static_cast<unsigned long long>(m_done));
    }
    std::fflush(stderr);
}

void WriteBinaryNode(Tavrin::IWriter& writer, const CBinaryDocument& document,
                     const std::string& rootClass, CProgress* progress) {
    const SNodeContext c{document, progress};
    const SBinaryNode& root = document.GetRoot();
    if (root.kind == EValueKind::Object) {
        writer.Write(
            static_cast<const Tavrin::ISerializable&>(CNodeObject(c, root, rootClass.c_str())));
    } else {
        writer.Write(static_cast<const Tavrin::ISerializableContainer&>(
            CNodeContainer(c, root, rootClass.c_str())));
    }
}

void WriteTree(Tavrin::IWriter& writer, const SValue& root, CProgress* progress) {
    if (root.kind == EValueKind::Object) {
        writer.Write(static_cast<const Tavrin::ISerializable&>(CTreeObject(root, progress)));
    } else {
        writer.Write(
            static_cast<const Tavrin::ISerializableContainer&>(CTreeContainer(root, progress)));
    }
}

// ---- Kinds of text values ------------------------------------------------------------------------

namespace {

bool IsDateTimeText(std::string_view t) {
    // yyyy-mm-ddThh:mm:ss, as the text writers write date-times, with fields in range.
    if (t.size() != 19) return false;
    for (size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        const bool digit = c >= '0' && c <= '9';
        switch (i) {
            case 4:
            case 7:
                if (c != '-') return false;
                break;
            case 10:
                if (c != 'T') return false;
                break;
            case 13:
            case 16:
                if (c != ':') return false;
                break;
            default:
                if (!digit) return false;
                break;
        }
    }
    auto field = [&](size_t at) { return (t[at] - '0') * 10 + (t[at + 1] - '0'); };
    return field(5) >= 1 && field(5) <= 12 && field(8) >= 1 && field(8) <= 31 && field(11) < 24 &&
           field(14) < 60 && field(17) < 60;
}

// The kind of an unquoted text: bool, the narrowest of int32, int64 and uint64 that holds an
// integer, double for any other number, a wide string for anything else.
EValueKind BareKind(std::string_view t) {
    if (t == "true" || t == "false") return EValueKind::Bool;
    if (t.empty()) return EValueKind::WString;
    const char* b = t.data();
    const char* e = t.data() + t.size();
    long long i = 0;
    if (auto [p, ec] = std::from_chars(b, e, i); ec == std::errc() && p == e) {
        return i >= INT32_MIN && i <= INT32_MAX ? EValueKind::Int32 : EValueKind::Int64;
    }
    unsigned long long u = 0;
    if (auto [p, ec] = std::from_chars(b, e, u); ec == std::errc() && p == e)
        return EValueKind::UInt64;
    double d = 0;
    if (auto [p, ec] = std::from_chars(b, e, d);
        (ec == std::errc() || ec == std::errc::result_out_of_range) && p == e) {
        return EValueKind::Double;
    }
    return EValueKind::WString;
}

EValueKind TextKind(std::string_view t, bool quoted) {
    if (quoted) return IsDateTimeText(t) ? EValueKind::DateTime : EValueKind::WString;
    const EValueKind k = BareKind(t);
    if (k == EValueKind::WString && IsDateTimeText(t)) return EValueKind::DateTime;
    return k;
}

bool IsInteger(EValueKind k) { return k >= EValueKind::UInt8 && k <= EValueKind::Int64; }
bool IsNumber(EValueKind k) { return k >= EValueKind::UInt8 && k <= EValueKind::Double; }
bool IsScalarOrText(EValueKind k) { return k < EValueKind::Object; }

// One kind for the elements of a container: the kind they share; for numbers the widest
// (integers that no integer kind holds together become doubles); a wide string when texts
// and numbers meet. Objects and containers mix with nothing.
EValueKind UnifyKinds(EValueKind a, EValueKind b) {
    if (a == b) return a;
    if (!IsScalarOrText(a) || !IsScalarOrText(b)) {
        throw std::runtime_error(
            "a container mixes objects or containers with other elements, "
            "which a binary document cannot hold");
    }
    if (IsInteger(a) && IsInteger(b)) {
        if ((a == EValueKind::UInt64) != (b == EValueKind::UInt64)) return EValueKind::Double;
        return std::max(a, b);
    }
    if (IsNumber(a) && IsNumber(b)) return EValueKind::Double;
    return EValueKind::WString;
}

// ---- Reading values through the readers ------------------------------------------------------

using UChar = unsigned char;
using SChar = signed char;
using UShort = unsigned short;
using UInt = unsigned int;
using ULLong = unsigned long long;
using LLong = long long;

// Reads the planned values of an object (or container) through the reader's value reader.
template <class Reader, class... Key>
void ReadLeaf(Reader& r, SValue& v, std::vector<std::string>& warnings, Key... key) {
    auto scalar = [&](auto target) {
        if (!r.Read(key..., target)) {
            v.present = false;
            return;
        }
        v.bits = ToBits(target);
        if constexpr (std::is_same_v<decltype(target), bool>) v.bits = target ? 1 : 0;
    };
    try {
        switch (v.kind) {
            case EValueKind::Bool: scalar(false); break;
            case EValueKind::Char: scalar(char{}); break;
            case EValueKind::UInt8: scalar(UChar{}); break;
            case EValueKind::Int8: scalar(SChar{}); break;
            case EValueKind::UInt16: scalar(UShort{}); break;
            case EValueKind::Int16: scalar(short{}); break;
            case EValueKind::UInt32: scalar(UInt{}); break;
            case EValueKind::Int32: scalar(int{}); break;
            case EValueKind::UInt64: scalar(ULLong{}); break;
            case EValueKind::Int64: scalar(LLong{}); break;
            case EValueKind::Float: scalar(float{}); break;
            case EValueKind::Double: scalar(double{}); break;
            case EValueKind::String: v.present = r.Read(key..., v.bytes); break;
            case EValueKind::WString: v.present = r.Read(key..., v.wide); break;
            case EValueKind::DateTime: {
                QvDateTime t = QvDateTime::FromFileTime(0);
                v.present = r.Read(key..., static_cast<Tavrin::IDateTime&>(t));
                v.bits = t.ToFileTime();
                break;
            }
            case EValueKind::Blob: {
                // An empty blob is written as empty text, which the JSON reader refuses to
                // decode (it decodes to nothing): it stays an empty blob.
                if (!v.emptyText) {
                    const Tavrin::SBlobRange b = r.Read(key...);
                    if (b.begin != nullptr)
                        v.bytes.assign(reinterpret_cast<const char*>(b.begin),
                                       static_cast<size_t>(b.end - b.begin));
                }
                break;
            }
            default: break;
        }
    } catch (const IException& e) {
        v.present = false;
        std::string where = v.name.empty() ? std::string("an element") : "value '" + v.name + "'";
        warnings.push_back(where + " does not read as " + Tavrin::ValueKindName(v.kind) + " (" +
                           e.GetFunctionName() + "): left out");
    }
}

class CFillObject;
class CFillContainer;

CProgress* g_fillProgress = nullptr;  // the progress of the tree being read, if shown

template <class Reader, class... Key>
void ReadAny(Reader& r, SValue& v, std::vector<std::string>& warnings, Key... key);

class CFillObject final : public Tavrin::ISerializable {
public:
    CFillObject(SValue& v, std::vector<std::string>& w) : m_v(v), m_w(w) {}
    const char* GetClassName() const override { return m_v.className.c_str(); }
    void Write(Tavrin::IDataWriter&) const override {}
    void Read(Tavrin::IDataReader& r) override {
        for (SValue& c : m_v.children) ReadAny(r, c, m_w, c.name.c_str());
    }

private:
    SValue& m_v;
    std::vector<std::string>& m_w;
};

class CFillContainer final : public Tavrin::ISerializableContainer {
public:
    CFillContainer(SValue& v, std::vector<std::string>& w) : m_v(v), m_w(w) {}
    const char* GetClassName() const override { return m_v.className.c_str(); }
    void Write(Tavrin::IContainerWriter&) const override {}
    void Read(Tavrin::IContainerReader& r) override {
        for (size_t i = 0; i < m_v.children.size(); ++i) {
            ReadAny(r, m_v.children[i], m_w, static_cast<unsigned int>(i));
        }
    }

private:
    SValue& m_v;
    std::vector<std::string>& m_w;
};

template <class Reader, class... Key>
void ReadAny(Reader& r, SValue& v, std::vector<std::string>& warnings, Key... key) {
    if (g_fillProgress != nullptr) g_fillProgress->Step();
    if (v.kind == EValueKind::Object) {
        CFillObject f(v, warnings);
        v.present = r.Read(key..., static_cast<Tavrin::ISerializable&>(f));
    } else if (v.kind == EValueKind::Container) {
        CFillContainer f(v, warnings);
        v.present = r.Read(key..., static_cast<Tavrin::ISerializableContainer&>(f));
    } else {
        ReadLeaf(r, v, warnings, key...);
    }
}

// ---- Planning: the kinds of a text document's values --------------------------------------------

struct SLike {
    const CBinaryDocument* document = nullptr;
    std::string Name(uint32_t index) const {
        return index == SBinaryNode::kNone ? std::string() : std::string(document->GetName(index));
    }
};

// JSON ------------------------------------------------------------------------------------------

SValue PlanJson(const Tavrin::CJsonValue& j, const SBinaryNode* like, const SLike& l);

void PlanJsonObject(SValue& v, const Tavrin::CJsonValue& j, const SBinaryNode* like,
                    const SLike& l) {
    v.kind = EValueKind::Object;
    std::unordered_set<std::string_view> taken;
    if (like != nullptr) {
        for (uint64_t i = 0; i < like->size; ++i) {
            const SBinaryNode& c = like->Children()[i];
            const std::string_view name = l.document->GetName(c.name);
            const Tavrin::CJsonValue member = j.Find(name);
            if (member.GetType() == Tavrin::CJsonValue::EType::Null) continue;
            taken.insert(name);
            SValue child = PlanJson(member, &c, l);
            child.name = std::string(name);
            v.children.push_back(std::move(child));
        }
    }
    for (unsigned int i = 0; i < j.GetCount(); ++i) {
        const std::string_view name = j.GetMemberName(i);
        if (taken.count(name) != 0) continue;
        SValue child = PlanJson(j.GetChild(i), nullptr, l);
        child.name = std::string(name);
        v.children.push_back(std::move(child));
    }
}

void PlanJsonArray(SValue& v, const Tavrin::CJsonValue& j, const SBinaryNode* like,
                   const SLike& l) {
    v.kind = EValueKind::Container;
    v.className = kDefaultContainerClass;
    const bool likeKind = like != nullptr && like->size != 0;
    for (unsigned int i = 0; i < j.GetCount(); ++i) {
        const Tavrin::CJsonValue e = j.GetChild(i);
        if (e.GetType() == Tavrin::CJsonValue::EType::Null) {
            throw std::runtime_error("element " + std::to_string(i) +
                                     " of an array is null, which a binary document cannot hold");
        }
        const SBinaryNode* t =
            likeKind ? &like->Children()[std::min<uint64_t>(i, like->size - 1)] : nullptr;
        v.children.push_back(PlanJson(e, t, l));
    }
    if (v.children.empty()) {
        v.elementKind = like != nullptr ? like->elementKind : EValueKind::Bool;
        return;
    }
    EValueKind k = v.children.front().kind;
    for (const SValue& c : v.children) k = UnifyKinds(k, c.kind);
    if (likeKind) k = like->elementKind;
    for (SValue& c : v.children) {
        if (IsScalarOrText(k) && IsScalarOrText(c.kind)) c.kind = k;
    }
    v.elementKind = k;
}

SValue PlanJson(const Tavrin::CJsonValue& j, const SBinaryNode* like, const SLike& l) {
    using T = Tavrin::CJsonValue::EType;
    SValue v;
    const T type = j.GetType();
    if (like != nullptr) {
        const bool fits = (type == T::Object) == (like->kind == EValueKind::Object) &&
                          (type == T::Array) == (like->kind == EValueKind::Container);
        if (!fits) like = nullptr;
    }
    switch (type) {
        case T::Object:
            PlanJsonObject(v, j, like, l);
            v.className = like != nullptr && like->className != SBinaryNode::kNone
                              ? l.Name(like->className)
                              : kDefaultObjectClass;
            break;
        case T::Array: PlanJsonArray(v, j, like, l); break;
        default:
            v.kind = like != nullptr ? like->kind : TextKind(j.GetText(), type == T::String);
            v.emptyText = j.GetText().empty();
            break;
    }
    return v;
}

// XML -------------------------------------------------------------------------------------------

// How an element with child elements is read without a document to follow: as a container
// when its children are all named "elt", or when there are several and all share one name;
// as an object otherwise.
bool LooksLikeContainer(const Tavrin::CXmlElement& e) {
    const int n = e.GetChildCount();
    if (n == 0) return false;
    bool allElt = true, allSame = true;
    const std::string_view first = e.GetChild(0).GetName();
    for (int i = 0; i < n; ++i) {
        const std::string_view name = e.GetChild(i).GetName();
        allElt = allElt && name == "elt";
        allSame = allSame && name == first;
    }
    return allElt || (n > 1 && allSame);
}

// The class name behind an element name: the XML writer writes each "::" as "-".
std::string ClassFromElementName(std::string_view name) {
    std::string cls;
    for (const char c : name) {
        if (c == '-') {
            cls += "::";
        } else {
            cls.push_back(c);
        }
    }
    return cls;
}

SValue PlanXml(const Tavrin::CXmlElement& e, const SBinaryNode* like, const SLike& l, bool element);

std::string Lowered(std::string_view name) {
    std::string s(name);
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

void PlanXmlObject(SValue& v, const Tavrin::CXmlElement& e, const SBinaryNode* like,
                   const SLike& l) {
    v.kind = EValueKind::Object;
    // The reader finds a value as the first child element of its name, ignoring letter case:
    // later elements of the same name are out of its reach, and are left out here as well.
    std::unordered_map<std::string, int> first;
    std::vector<int> reachable;
    for (int k = 0; k < e.GetChildCount(); ++k) {
        if (first.emplace(Lowered(e.GetChild(k).GetName()), k).second) reachable.push_back(k);
    }
    std::vector<bool> taken(static_cast<size_t>(e.GetChildCount()), false);
    if (like != nullptr) {
        for (uint64_t i = 0; i < like->size; ++i) {
            const SBinaryNode& c = like->Children()[i];
            const std::string_view name = l.document->GetName(c.name);
            const auto found = first.find(Lowered(name));
            if (found == first.end()) continue;
            taken[static_cast<size_t>(found->second)] = true;
            SValue child = PlanXml(e.GetChild(found->second), &c, l, false);
            child.name = std::string(name);
            v.children.push_back(std::move(child));
        }
    }
    for (const int k : reachable) {
        if (taken[static_cast<size_t>(k)]) continue;
        const Tavrin::CXmlElement c = e.GetChild(k);
        SValue child = PlanXml(c, nullptr, l, false);
        child.name = std::string(c.GetName());
        v.children.push_back(std::move(child));
    }
}

void PlanXmlContainer(SValue& v, const Tavrin::CXmlElement& e, const SBinaryNode* like,
                      const SLike& l) {
    v.kind = EValueKind::Container;
    const bool likeKind = like != nullptr && like->size != 0;
    for (int i = 0; i < e.GetChildCount(); ++i) {
        const SBinaryNode* t =
            likeKind
                ? &like->Children()[std::min<uint64_t>(static_cast<uint64_t>(i), like->size - 1)]
                : nullptr;
        v.children.push_back(PlanXml(e.GetChild(i), t, l, true));
    }
    if (v.children.empty()) {
        v.elementKind = like != nullptr ? like->elementKind : EValueKind::Bool;
        return;
    }
    EValueKind k = v.children.front().kind;
    for (const SValue& c : v.children) k = UnifyKinds(k, c.kind);
    if (likeKind) k = like->elementKind;
    for (SValue& c : v.children) {
        if (IsScalarOrText(k) && IsScalarOrText(c.kind)) c.kind = k;
    }
    v.elementKind = k;
}

SValue PlanXml(const Tavrin::CXmlElement& e, const SBinaryNode* like, const SLike& l,
               bool element) {
    SValue v;
    const bool children = e.GetChildCount() > 0;
    if (like != nullptr) {
        const bool nested = like->kind == EValueKind::Object || like->kind == EValueKind::Container;
        if (nested != children && !(nested && e.GetTextCount() == 0 && e.GetRawCount() == 0)) {
            like = nullptr;
        }
    }
    const bool asObject =
        like != nullptr ? like->kind == EValueKind::Object : children && !LooksLikeContainer(e);
    const bool asContainer =
        like != nullptr ? like->kind == EValueKind::Container : children && LooksLikeContainer(e);
    if (asObject) {
        PlanXmlObject(v, e, like, l);
        if (like != nullptr && like->className != SBinaryNode::kNone) {
            v.className = l.Name(like->className);
        } else {
            v.className = element ? ClassFromElementName(e.GetName()) : kDefaultObjectClass;
        }
    } else if (asContainer) {
        PlanXmlContainer(v, e, like, l);
        v.className = element ? ClassFromElementName(e.GetName()) : kDefaultContainerClass;
    } else if (like != nullptr) {
        v.kind = like->kind;
    } else if (e.GetTextCount() == 0 && e.GetRawCount() > 0 && e.GetRawMarker(0) == "<![CDATA[") {
        v.kind = EValueKind::Blob;
    } else {
        v.kind = TextKind(e.GetTextCount() > 0 ? e.GetText(0) : std::string_view(), false);
    }
    return v;
}

}  // namespace

SValue ReadJsonTree(const Tavrin::CJsonDocument& json, const CBinaryDocument* like,
                    std::vector<std::string>& warnings, CProgress* progress) {
    g_fillProgress = progress;
    const SLike l{like};
    const Tavrin::CJsonValue root = json.GetRoot();
    const SBinaryNode* likeRoot = like != nullptr ? &like->GetRoot() : nullptr;
    SValue tree = PlanJson(root, likeRoot, l);
    if (tree.kind == EValueKind::Object) {
        CFillObject f(tree, warnings);
        root.ReadObject(f);
    } else {
        CFillContainer f(tree, warnings);
        root.ReadContainer(f);
    }
    return tree;
}

SValue ReadXmlTree(const Tavrin::CXmlDocument& xml, const CBinaryDocument* like,
                   std::vector<std::string>& warnings, CProgress* progress) {
    g_fillProgress = progress;
    const SLike l{like};
    // The document element: the declaration's first child (the reader's way), or the element
    // itself in a text without a declaration.
    Tavrin::CXmlElement top = xml.GetRoot();
    bool container = false;
    if (top.IsDeclaration()) {
        bool encoding = false;
        for (int i = 0; i < top.GetAttributeCount(); ++i) {
            encoding = encoding || top.GetAttributeName(i) == "encoding";
        }
        container = !encoding;  // the writer declares no encoding for container documents
        top = top.GetChild(0);
    }
    if (top.IsEmpty() || top.GetName().empty()) {
        throw std::runtime_error("the XML text holds no document element");
    }
    const SBinaryNode* likeRoot = like != nullptr ? &like->GetRoot() : nullptr;
    if (likeRoot != nullptr) container = likeRoot->kind == EValueKind::Container;
    SValue tree;
    if (container) {
        PlanXmlContainer(tree, top, likeRoot, l);
        tree.className = ClassFromElementName(top.GetName());
        CFillContainer f(tree, warnings);
        top.ReadContainer(f);
    } else {
        PlanXmlObject(tree, top, likeRoot, l);
        tree.className = ClassFromElementName(top.GetName());
        CFillObject f(tree, warnings);
        top.ReadObject(f);
    }
    return tree;
}

// ---- Ordering after a binary document -------------------------------------------------------------

namespace {

class COrderer {
public:
    explicit COrderer(const CBinaryDocument& like) : m_like(like) {
        for (size_t i = 0; i < like.GetNameEntryCount(); ++i) {
            const auto e = like.GetNameEntry(i);
            auto [it, added] = m_ids.emplace(like.GetName(e.name), e.id);
            if (!added) it->second = std::min(it->second, e.id);
            m_textOf[e.id] = e.name;
        }
        std::vector<bool> referenced(like.GetNameCount(), false);
        MarkReferenced(like.GetRoot(), referenced);
        for (const auto& [id, name] : m_textOf) {
            if (!referenced[name]) m_unreferenced.insert(id);
        }
    }

    void Assign(SValue& v) {
        v.nameId = v.name.empty() ? kNoId : IdOf(v.name);
        v.classId = v.kind == EValueKind::Object ? IdOf(v.className) : kNoId;
        uint32_t top = 0;
        if (v.nameId != kNoId) top = std::max(top, v.nameId + 1);
        if (v.classId != kNoId) top = std::max(top, v.classId + 1);
        for (SValue& c : v.children) {
            Assign(c);
            top = std::max(top, c.maxId);
        }
        v.maxId = top;
    }

    void Root(SValue& root) {
        if (root.kind == EValueKind::Object) {
            Object(root);
        } else {
            Container(root);
        }
    }

    bool Exact() const { return m_exact; }

private:
    uint32_t IdOf(const std::string& text) const {
        const auto it = m_ids.find(text);
        return it != m_ids.end() ? it->second : kNoId;
    }

    void MarkReferenced(const SBinaryNode& n, std::vector<bool>& referenced) {
        if (n.name != SBinaryNode::kNone) referenced[n.name] = true;
        if (n.className != SBinaryNode::kNone) referenced[n.className] = true;
        if (n.kind == EValueKind::Object || n.kind == EValueKind::Container) {
            for (uint64_t i = 0; i < n.size; ++i) MarkReferenced(n.Children()[i], referenced);
        }
    }

    void Meet(uint32_t id) {
        if (id == kNoId || id < m_next) return;
        if (id > m_next) m_exact = false;
        m_next = id + 1;
    }

    // The smallest identifier not yet met in the order the subtree meets them, approximated
    // by the smallest identifier at or above the next one.
    uint32_t FirstNew(const SValue& v) const {
        uint32_t best = kNoId;
        if (v.maxId <= m_next) return best;
        if (v.nameId != kNoId && v.nameId >= m_next) return v.nameId;
        if (v.classId != kNoId && v.classId >= m_next) return v.classId;
        for (const SValue& c : v.children) {
            const uint32_t f = FirstNew(c);
            if (f < best) best = f;
        }
        return best;
    }

    void Emit(SValue& v) {
        Meet(v.nameId);
        if (v.kind == EValueKind::Object) {
            Meet(v.classId);
            Object(v);
        } else if (v.kind == EValueKind::Container) {
            // The class name of a container held by an object is entered in the name table
            // only: the next identifier if no value uses that text, the value's own name
            // (already entered) otherwise.
            if (m_unreferenced.count(m_next) != 0) {
                v.className = std::string(m_like.GetName(m_textOf[m_next]));
                Meet(m_next);
            } else {
                v.className = v.name;
            }
            Container(v);
        }
    }

    void Container(SValue& v) {
        for (SValue& c : v.children) {
            if (c.kind == EValueKind::Object) {
                Meet(c.classId);
                Object(c);
            } else if (c.kind == EValueKind::Container) {
                Container(c);
            }
        }
    }

    // A keyed table of 32-bit keys starts with 128 buckets and doubles them once it holds
    // three entries per four buckets.
    static constexpr size_t kGrowthCount = 96;

    static uint32_t Hash(uint32_t id) { return static_cast<uint32_t>(QvHashFnv1aUInt32(id)); }

    // An order of inserting the values `group` (indices of v's children, in document order)
    // that leaves the keyed table iterating them in document order: the table's history
    // undone from its final state. Undoing an insertion takes a value from the front of a
    // chain; undoing a growth merges the two chains that came from one, in any interleaving.
    // Choices go to the larger identifier first, so that the order runs by identifier where
    // it can.
    std::vector<uint32_t> InsertionOrder(const SValue& v,
                                         const std::vector<uint32_t>& group) const {
        const size_t m = group.size();
        std::vector<uint32_t> growths;  // counts after which the table grew
        uint64_t buckets = 128;
        for (uint64_t count = 1; count <= m; ++count) {
            if (count * 4 >= buckets * 3 && buckets < 0x80000000ull) {
                growths.push_back(static_cast<uint32_t>(count));
                buckets *= 2;
            }
        }
        auto id = [&](uint32_t i) { return v.children[i].nameId; };
        std::vector<std::deque<uint32_t>> chains(buckets);
        for (const uint32_t i : group) chains[Hash(id(i)) & (buckets - 1)].push_back(i);
        std::vector<uint32_t> reversed;
        reversed.reserve(m);
        using SFront = std::pair<uint32_t, uint32_t>;  // identifier, bucket
        std::priority_queue<SFront> fronts;
        auto refill = [&] {
            fronts = {};
            for (size_t b = 0; b < chains.size(); ++b) {
                if (!chains[b].empty())
                    fronts.emplace(id(chains[b].front()), static_cast<uint32_t>(b));
            }
        };
        refill();
        for (uint64_t count = m; count >= 1; --count) {
            if (!growths.empty() && growths.back() == count) {
                growths.pop_back();
                const size_t half = chains.size() / 2;
                std::vector<std::deque<uint32_t>> merged(half);
                for (size_t b = 0; b < half; ++b) {
                    std::deque<uint32_t> a(chains[b].rbegin(), chains[b].rend());
                    std::deque<uint32_t> c(chains[b + half].rbegin(), chains[b + half].rend());
                    while (!a.empty() || !c.empty()) {
                        const bool fromA =
                            c.empty() || (!a.empty() && id(a.front()) > id(c.front()));
                        std::deque<uint32_t>& from = fromA ? a : c;
                        merged[b].push_back(from.front());
                        from.pop_front();
                    }
                }
                chains.swap(merged);
                refill();
            }
            const uint32_t b = fronts.top().second;
            fronts.pop();
            reversed.push_back(chains[b].front());
            chains[b].pop_front();
            if (!chains[b].empty()) fronts.emplace(id(chains[b].front()), b);
        }
        return std::vector<uint32_t>(reversed.rbegin(), reversed.rend());
    }

    // Writes each kind's values in the reverse of their document order within a bucket of
    // the keyed table (whose chains hand out the newest first), and meets new names in the
    // order of their identifiers.
    void Object(SValue& v) {
        const size_t n = v.children.size();
        v.order.clear();
        if (n == 0) return;
        // Chains: per kind and bucket, the values in document order; a value may be written
        // once every later one of its chain has been.
        std::vector<uint32_t> after(n, kNoId);  // the value to be written before this one
        // Kinds with enough values to make the table grow: one order computed back from the
        // document's (or none, when every name is new: the names' order decides then).
        std::vector<std::vector<uint32_t>> byKind(Tavrin::kValueKindCount);
        for (size_t i = 0; i < n; ++i) {
            if (v.children[i].present) {
                byKind[static_cast<size_t>(v.children[i].kind)].push_back(static_cast<uint32_t>(i));
            }
        }
        std::vector<bool> ordered(Tavrin::kValueKindCount, false);
        for (size_t k = 0; k < byKind.size(); ++k) {
            const std::vector<uint32_t>& group = byKind[k];
            if (group.size() < kGrowthCount) continue;
            ordered[k] = true;
            const bool allNew = std::all_of(group.begin(), group.end(), [&](uint32_t i) {
                return v.children[i].nameId != kNoId && v.children[i].nameId >= m_next;
            });
            if (allNew) continue;
            const std::vector<uint32_t> order = InsertionOrder(v, group);
            for (size_t j = 1; j < order.size(); ++j) after[order[j]] = order[j - 1];
        }
        std::unordered_map<uint64_t, uint32_t> lastOf;
        for (size_t i = n; i-- > 0;) {
            const SValue& c = v.children[i];
            if (!c.present || ordered[static_cast<size_t>(c.kind)]) continue;
            const uint32_t bucket = c.nameId == kNoId
                                        ? 0xFFFFu
                                        : static_cast<uint32_t>(QvHashFnv1aUInt32(c.nameId)) & 127u;
            const uint64_t key = (static_cast<uint64_t>(c.kind) << 32) | bucket;
            const auto it = lastOf.find(key);
            if (it != lastOf.end()) after[i] = it->second;
            lastOf[key] = static_cast<uint32_t>(i);
        }
        std::vector<uint32_t> before(n, kNoId);  // the previous value of the chain
        for (size_t i = 0; i < n; ++i) {
            if (after[i] != kNoId) before[after[i]] = static_cast<uint32_t>(i);
        }
        std::vector<bool> done(n, false);
        size_t left = 0;
        // Values ready to be written (the rest of their chain written), by the largest
        // identifier they meet (0 + 1 .. : those below the next one meet no new name) and by
        // the first new identifier they meet. Keys of the second grow stale as names are met:
        // they are checked when they come up.
        using SKeyed = std::pair<uint32_t, uint32_t>;
        std::priority_queue<SKeyed, std::vector<SKeyed>, std::greater<>> bySafety, byFirst;
        auto push = [&](size_t i) {
            bySafety.emplace(v.children[i].maxId, static_cast<uint32_t>(i));
            byFirst.emplace(FirstNew(v.children[i]), static_cast<uint32_t>(i));
        };
        for (size_t i = 0; i < n; ++i) {
            if (v.children[i].present) {
                ++left;
                if (after[i] == kNoId) push(i);
            } else {
                done[i] = true;
                v.order.push_back(static_cast<uint32_t>(i));
            }
        }
        while (left > 0) {
            size_t pick = n;
            while (!bySafety.empty() && done[bySafety.top().second]) bySafety.pop();
            if (!bySafety.empty() && bySafety.top().first <= m_next) {
                pick = bySafety.top().second;
                bySafety.pop();
            }
            while (pick == n && !byFirst.empty()) {
                const auto [key, i] = byFirst.top();
                byFirst.pop();
                if (done[i]) continue;
                const uint32_t now = FirstNew(v.children[i]);
                if (now != key) {
                    byFirst.emplace(now, i);
                    continue;
                }
                pick = i;
                if (now != m_next && m_unreferenced.count(m_next) == 0) m_exact = false;
            }
            if (pick == n) break;  // cannot happen: a chain always has a value ready
            done[pick] = true;
            --left;
            v.order.push_back(static_cast<uint32_t>(pick));
            Emit(v.children[pick]);
            if (before[pick] != kNoId) push(before[pick]);
        }
    }

    const CBinaryDocument& m_like;
    std::unordered_map<std::string_view, uint32_t> m_ids;  // text -> smallest identifier
    std::unordered_map<uint32_t, uint32_t> m_textOf;       // identifier -> name index
    std::unordered_set<uint32_t> m_unreferenced;
    uint32_t m_next = 0;
    bool m_exact = true;
};

}  // namespace

uint64_t CountValues(const SBinaryNode& node) {
    uint64_t n = 1;
    if (node.kind == EValueKind::Object || node.kind == EValueKind::Container) {
        for (uint64_t i = 0; i < node.size; ++i) n += CountValues(node.Children()[i]);
    }
    return n;
}

uint64_t CountValues(const SValue& value) {
    uint64_t n = 1;
    for (const SValue& c : value.children) n += CountValues(c);
    return n;
}

bool OrderLike(SValue& root, const CBinaryDocument& like) {
    COrderer orderer(like);
    orderer.Assign(root);
    orderer.Root(root);
    return orderer.Exact();
}

}  // namespace TavrinTool
