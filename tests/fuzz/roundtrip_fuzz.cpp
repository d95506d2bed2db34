// Builds an object graph from the input, writes it in each format and reads it back into a graph
// of the same shape: every value a format must keep has to come back equal. The binary document
// keeps everything bit for bit; the text formats get values they can hold exactly (whole
// seconds, short fractions, no blank at the ends of a text, no empty blob).
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include <tavrin/tavrin.h>

namespace {

enum EKind : unsigned char {
    Blob,
    Object,
    Container,
    Time,
    WString,
    String,
    Char,
    Double,
    Float,
    Int64,
    UInt64,
    Int32,
    UInt32,
    Int16,
    UInt16,
    Int8,
    UInt8,
    Bool,
    KindCount
};

class CInput {
public:
    CInput(const uint8_t* data, size_t size) : m_p(data), m_end(data + size) {}
    bool Empty() const { return m_p == m_end; }
    uint8_t Byte() { return m_p == m_end ? 0 : *m_p++; }
    uint64_t Bits(int bytes) {
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v = v << 8u | Byte();
        return v;
    }

private:
    const uint8_t* m_p;
    const uint8_t* m_end;
};

int g_format = 0;  // 0 binary, 1 JSON, 2 XML: the document being read back

struct SNode;
struct SEntry;
[[noreturn]] void Fail(const SEntry& e);

struct SEntry {
    EKind kind = Bool;
    std::string name;
    uint64_t bits = 0;  // integers, bool, char, floating bits, file time
    std::string text;   // narrow text, blob bytes
    std::wstring wide;
    std::unique_ptr<SNode> child;
};

// One object (named values) or container (elements); both interfaces, one used per node.
struct SNode : Tavrin::ISerializable, Tavrin::ISerializableContainer {
    bool container = false;
    std::vector<SEntry> entries;

    const char* GetClassName() const override { return container ? "Fuzz::List" : "Fuzz::Node"; }
    void Write(Tavrin::IDataWriter& w) const override {
        for (const SEntry& e : entries) WriteOne(w, e, e.name.c_str());
    }
    void Write(Tavrin::IContainerWriter& w) const override {
        for (const SEntry& e : entries) WriteOne(w, e);
    }
    void Read(Tavrin::IDataReader& r) override {
        for (SEntry& e : entries) {
            if (!ReadOne(r, e, e.name.c_str())) {
                Fail(e);  // a written value must be found again, equal
            }
        }
    }
    void Read(Tavrin::IContainerReader& r) override {
        for (unsigned int i = 0; i < entries.size(); ++i) {
            if (!ReadOne(r, entries[i], i)) Fail(entries[i]);
        }
    }

    template <class W, class... Key>
    static void WriteOne(W& w, const SEntry& e, Key... key) {
        switch (e.kind) {
            case Blob: w.Write(key..., e.text.size(), e.text.data()); break;
            case Object:
                w.Write(key..., static_cast<const Tavrin::ISerializable&>(*e.child));
                break;
            case Container:
                w.Write(key..., static_cast<const Tavrin::ISerializableContainer&>(*e.child));
                break;
            case Time: w.Write(key..., QvDateTime::FromFileTime(e.bits)); break;
            case WString: w.Write(key..., e.wide); break;
            case String: w.Write(key..., e.text); break;
            case Char: w.Write(key..., static_cast<char>(e.bits)); break;
            case Double: w.Write(key..., std::bit_cast<double>(e.bits)); break;
            case Float: w.Write(key..., std::bit_cast<float>(static_cast<uint32_t>(e.bits))); break;
            case Int64: w.Write(key..., static_cast<long long>(e.bits)); break;
            case UInt64: w.Write(key..., static_cast<unsigned long long>(e.bits)); break;
            case Int32: w.Write(key..., static_cast<int>(e.bits)); break;
            case UInt32: w.Write(key..., static_cast<unsigned int>(e.bits)); break;
            case Int16: w.Write(key..., static_cast<short>(e.bits)); break;
            case UInt16: w.Write(key..., static_cast<unsigned short>(e.bits)); break;
            case Int8: w.Write(key..., static_cast<signed char>(e.bits)); break;
            case UInt8: w.Write(key..., static_cast<unsigned char>(e.bits)); break;
            default: w.Write(key..., e.bits != 0); break;
        }
    }

    template <class T, class R, class Key>
    static bool Same(R& r, Key key, T expected) {
        T value{};
        return r.Read(key, value) && std::memcmp(&value, &expected, sizeof(T)) == 0;
    }

    // Reads the entry's value back and compares it with what was written.
    template <class R, class Key>
    static bool ReadOne(R& r, SEntry& e, Key key) {
        switch (e.kind) {
            case Blob: {
                // An XML container element's text keeps the line breaks around its Base64 text, so
                // the pad characters do not end it: the size is rounded up to whole groups of three
                // bytes, the added bytes zero.
                std::string expected = e.text;
                if (g_format == 2 && std::is_same_v<Key, unsigned int>) {
                    expected.resize((expected.size() + 2) / 3 * 3, '\0');
                }
                const Tavrin::SBlobRange range = r.Read(key);
                if (std::getenv("FUZZ_SHOW") != nullptr) {
                    std::fprintf(stderr, "blob read: %td bytes:", range.end - range.begin);
                    for (const unsigned char* p = range.begin; p != range.end; ++p) {
                        std::fprintf(stderr, " %02x", *p);
                    }
                    std::fputs("\n", stderr);
                }
                return static_cast<size_t>(range.end - range.begin) == expected.size() &&
                       std::equal(range.begin, range.end, expected.begin(),
                                  [](unsigned char a, char b) {
                                      return a == static_cast<unsigned char>(b);
                                  });
            }
            case Object:
            case Container: {
                SNode copy = e.child->ShapeCopy();
                return e.kind == Object
                           ? r.Read(key, static_cast<Tavrin::ISerializable&>(copy))
                           : r.Read(key, static_cast<Tavrin::ISerializableContainer&>(copy));
            }
            case Time: {
                QvDateTime value = QvDateTime::FromFileTime(0);
                return r.Read(key, value) && value.ToFileTime() == e.bits;
            }
            case WString: {
                std::wstring value;
                return r.Read(key, value) && value == e.wide;
            }
            case String: {
                std::string value;
                return r.Read(key, value) && value == e.text;
            }
            case Char: return Same(r, key, static_cast<char>(e.bits));
            case Double: return Same(r, key, std::bit_cast<double>(e.bits));
            case Float: return Same(r, key, std::bit_cast<float>(static_cast<uint32_t>(e.bits)));
            case Int64: return Same(r, key, static_cast<long long>(e.bits));
            case UInt64: return Same(r, key, static_cast<unsigned long long>(e.bits));
            case Int32: return Same(r, key, static_cast<int>(e.bits));
            case UInt32: return Same(r, key, static_cast<unsigned int>(e.bits));
            case Int16: return Same(r, key, static_cast<short>(e.bits));
            case UInt16: return Same(r, key, static_cast<unsigned short>(e.bits));
            case Int8: return Same(r, key, static_cast<signed char>(e.bits));
            case UInt8: return Same(r, key, static_cast<unsigned char>(e.bits));
            default: return Same(r, key, e.bits != 0);
        }
    }

    // The entries' names and kinds, and for nested nodes their whole shape; the values are left
    // to the read. The expected values stay with the original, which ReadOne compares against;
    // the shape carries them too so that nested reads can compare.
    SNode ShapeCopy() const {
        SNode copy;
        copy.container = container;
        for (const SEntry& e : entries) {
            SEntry& s = copy.entries.emplace_back();
            s.kind = e.kind, s.name = e.name, s.bits = e.bits, s.text = e.text, s.wide = e.wide;
            if (e.child) s.child = std::make_unique<SNode>(e.child->ShapeCopy());
        }
        return copy;
    }
};

void Fail(const SEntry& e) {
    std::fprintf(stderr, "value '%s' of kind %d did not come back (bits %llx, %zu bytes)\n",
                 e.name.c_str(), static_cast<int>(e.kind), static_cast<unsigned long long>(e.bits),
                 e.text.size() + e.wide.size());
    std::abort();
}

// Values the text formats hold exactly: short texts without blanks at their ends, fractions of
// eighths, whole seconds from year 1601 to 9999.
void Fill(CInput& in, SEntry& e, bool exactText) {
    // Code points; the one beyond U+FFFF is a surrogate pair where wchar_t has 16 bits.
    static const char32_t kWide[] = {U'a', U'Z',  U'7', U' ',   U'&',   U'<',
                                     U'"', U'\\', 0xE9, 0x4E2D, 0x20AC, 0x1F600};
    static const char kNarrow[] = "aZ7 &<>\"'\\/{}:,";
    const size_t length = in.Byte() % 12;
    switch (e.kind) {
        case Blob:
            for (size_t i = 0; i < length + (exactText ? 1 : 0); ++i) {
                e.text.push_back(static_cast<char>(in.Byte()));
            }
            break;
        case WString:
            for (size_t i = 0; i < length; ++i) {
                const char32_t c = exactText ? kWide[in.Byte() % std::size(kWide)]
                                             : static_cast<char32_t>(1 + in.Bits(2) % 0xD7FF);
                if (c > 0xFFFF && sizeof(wchar_t) == 2) {
                    e.wide += L"\xD83D\xDE00";
                } else {
                    e.wide.push_back(static_cast<wchar_t>(c));
                }
            }
            if (exactText && !e.wide.empty()) {
                e.wide.front() = L'x';
                e.wide.back() = L'y';
            }
            break;
        case String:
            for (size_t i = 0; i < length; ++i) {
                e.text.push_back(exactText ? kNarrow[in.Byte() % (sizeof(kNarrow) - 1)]
                                           : static_cast<char>(1 + in.Byte() % 255));
            }
            if (exactText && !e.text.empty()) {
                e.text.front() = 'x';
                e.text.back() = 'y';
            }
            break;
        case Char:
            e.bits = exactText ? static_cast<uint64_t>('a' + in.Byte() % 26) : in.Byte();
            break;
        case Double:
            e.bits = exactText ? std::bit_cast<uint64_t>(
                                     static_cast<double>(static_cast<int16_t>(in.Bits(2))) / 8.0)
                               : in.Bits(8);
            break;
        case Float:
            e.bits = exactText ? std::bit_cast<uint32_t>(
                                     static_cast<float>(static_cast<int16_t>(in.Bits(2))) / 8.0f)
                               : in.Bits(4);
            break;
        case Time: {
            // 1601-01-01 up to about 9999, whole seconds in the text formats.
            const uint64_t seconds = in.Bits(5) % 265000000000ull;
            e.bits = seconds * 10000000ull + (exactText ? 0 : in.Bits(2) % 1000 * 10000);
            break;
        }
        default: e.bits = in.Bits(8); break;
    }
}

std::unique_ptr<SNode> Build(CInput& in, bool container, bool exactText, int depth) {
    auto node = std::make_unique<SNode>();
    node->container = container;
    const size_t count = in.Byte() % 8;
    // A container's elements are all of one kind.
    const auto elementKind = static_cast<EKind>(container ? in.Byte() % KindCount : 0);
    for (size_t i = 0; i < count && !in.Empty(); ++i) {
        SEntry e;
        e.kind = container ? elementKind : static_cast<EKind>(in.Byte() % KindCount);
        if ((e.kind == Object || e.kind == Container) && depth >= 6) e.kind = Int32;
        e.name = "v" + std::to_string(i);
        if (e.kind == Object || e.kind == Container) {
            e.child = Build(in, e.kind == Container, exactText, depth + 1);
        } else {
            Fill(in, e, exactText);
        }
        node->entries.push_back(std::move(e));
    }
    return node;
}

template <class Base>
void RoundTrip(const SNode& root, int format) {
    const Base& asRoot = root;
    SNode copy = root.ShapeCopy();
    Base& target = copy;
    if (format == 0) {
        QvStreamWriteBinaryBuffer buffer;
        Tavrin::CWriterBinary(buffer).Write(asRoot);
        QvStreamReadBinaryBuffer stream(buffer.GetData(), buffer.GetCount());
        Tavrin::CReaderBinary(stream).Read(target);
    } else {
        std::ostringstream out;
        format == 1 ? Tavrin::CWriterJson(out).Write(asRoot)
                    : Tavrin::CWriterXml(out).Write(asRoot);
        if (std::getenv("FUZZ_SHOW") != nullptr) std::fputs(out.str().c_str(), stderr);
        format == 1 ? Tavrin::CReaderJson(out.str()).Read(target)
                    : Tavrin::CReaderXml(out.str()).Read(target);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CInput in(data, size);
    const int format = in.Byte() % 3;
    g_format = format;
    const bool container = in.Byte() % 2 != 0;
    const std::unique_ptr<SNode> root = Build(in, container, format != 0, 0);
    // Any exception here is a failure: the graph holds only values the format can write and read.
    if (container) {
        RoundTrip<Tavrin::ISerializableContainer>(*root, format);
    } else {
        RoundTrip<Tavrin::ISerializable>(*root, format);
    }
    return 0;
}
