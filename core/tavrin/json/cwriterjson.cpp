// The JSON writer. The text is assembled in a buffer shared by the whole document and handed
// to the caller's stream in large blocks; after a failure the stream receives everything
// written before it.
#include <tavrin/cwriterjson.h>

#include <array>
#include <cstring>
#include <locale>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <typeinfo>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <tavrin/base64.h>
#include <tavrin/cexception.h>
#include <tavrin/qvdatetime.h>

#include "core/basepool/utf.h"
#include "core/tavrin/common/numbertext.h"
#include "core/tavrin/common/textbuffer.h"
#include "core/tavrin/common/writerguard.h"

namespace Tavrin {
namespace {

using Detail::kDoubleDigits;
using Detail::kFloatDigits;

// For each byte that is written as a backslash pair, the character after the backslash.
constexpr std::array<char, 256> kEscapes = [] {
    std::array<char, 256> table{};
    table[0x08] = 'b';
    table[0x09] = 't';
    table[0x0A] = 'n';
    table[0x0C] = 'f';
    table[0x0D] = 'r';
    table[0x22] = '"';
    table[0x5C] = '\\';
    return table;
}();

// Appends `size` bytes quoted, with the seven escapes; every other byte passes unchanged.
void AppendQuoted(Detail::CTextBuffer& out, const char* data, size_t size) {
    char* p = out.Room(2 * size + 2);  // every byte escaped, and the quotes
    *p++ = '"';
    const char* run = data;
    const char* const end = data + size;
    const char* c = data;
#if defined(__SSE2__)
    // Blocks of 16 bytes that hold nothing to escape go as they are. A byte below 14 or a
    // quote or backslash sends the block to the byte loop.
    if (size >= 16) {
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i backslash = _mm_set1_epi8('\\');
        const __m128i thirteen = _mm_set1_epi8(13);
        for (; end - c >= 16; c += 16) {
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
            const __m128i low = _mm_cmpeq_epi8(_mm_max_epu8(b, thirteen), thirteen);
            const __m128i special = _mm_or_si128(
                low, _mm_or_si128(_mm_cmpeq_epi8(b, quote), _mm_cmpeq_epi8(b, backslash)));
            if (_mm_movemask_epi8(special) != 0) break;
        }
    }
#endif
    for (; c != end; ++c) {
        const char letter = kEscapes[static_cast<unsigned char>(*c)];
        if (letter != 0) {
            Detail::CopySmall(p, run, static_cast<size_t>(c - run));
            p += c - run;
            *p++ = '\\';
            *p++ = letter;
            run = c + 1;
        }
    }
    Detail::CopySmall(p, run, static_cast<size_t>(end - run));
    p += end - run;
    *p++ = '"';
    out.Commit(p);
}

// True when the stream's locale formats numbers exactly as the "C" locale does, so that the
// writer may format them itself instead of going through the stream's inserters.
bool FormatsLikeClassic(const std::ostream& stream) {
    const std::locale locale = stream.getloc();
    if (locale == std::locale::classic()) return true;
    const auto& put = std::use_facet<std::num_put<char>>(locale);
    if (typeid(put) != typeid(std::num_put<char>)) return false;
    const auto& punct = std::use_facet<std::numpunct<char>>(locale);
    return punct.decimal_point() == '.' && punct.grouping().empty() && punct.truename() == "true" &&
           punct.falsename() == "false";
}

// What the block writers of one document share: the stream, and the text of the value being
// written, which reaches the stream in one piece.
struct SJsonOutput {
    std::ostream* stream;
    bool classicLocale;
    Detail::CTextBuffer line;
    std::string scratch;

    // Text collected before it goes to the stream.
    static constexpr size_t kBlock = size_t{64} * 1024;

    // Flags that change how the inserters format numbers; boolalpha is handled separately.
    static constexpr std::ios_base::fmtflags kNumberFlags =
        std::ios_base::basefield | std::ios_base::floatfield | std::ios_base::adjustfield |
        std::ios_base::showbase | std::ios_base::showpoint | std::ios_base::showpos |
        std::ios_base::uppercase;

    // Numbers may be formatted here when the stream would give the same text.
    bool OwnNumbers() const {
        return classicLocale && (stream->flags() & kNumberFlags) == std::ios_base::dec &&
               stream->width() == 0;
    }

    // Ends the text of a value. The text collects in `line` and goes to the stream in large
    // blocks: a call per value into the stream costs more than the value's text.
    void Flush() {
        if (line.size() >= kBlock) Send();
    }

    // Sends the text assembled so far to the stream. The text is dropped even when the stream
    // fails, so that the failure handler does not send it twice.
    void Send() {
        if (line.empty()) return;
        struct SClear {
            Detail::CTextBuffer& text;
            ~SClear() { text.clear(); }
        } clear{line};
        stream->write(line.data(), static_cast<std::streamsize>(line.size()));
    }
};

// What the object and the container writer share: the separator rule and the value texts.
// The object writer passes each value's name, the container writer passes null.
template <class I>
class CWriterJsonBase : public I {
public:
    ~CWriterJsonBase() override = default;
    CWriterJsonBase(const CWriterJsonBase&) = delete;
    CWriterJsonBase& operator=(const CWriterJsonBase&) = delete;

protected:
    CWriterJsonBase(SJsonOutput& output, std::string indent)
        : m_output(&output), m_indent(std::move(indent)) {}

    static constexpr bool kMembers = std::is_same_v<I, IDataWriter>;

    // The separator and, for a member, the quoted name and the colon.
    Detail::CTextBuffer& Begin(const char* name) {
        size_t nameLength = 0;
        if constexpr (kMembers) {
            // Caught at the document's boundary like any other failure.
            if (name == nullptr) throw std::invalid_argument("JSON member without a name");
            nameLength = std::strlen(name);
        }
        Detail::CTextBuffer& line = m_output->line;
        char* p = line.Room(2 + m_indent.size() + nameLength + 3);
        if (m_count++ == 0) {
            *p++ = '\t';
        } else {
            *p++ = ',';
            *p++ = '\n';
            Detail::CopySmall(p, m_indent.data(), m_indent.size());
            p += m_indent.size();
        }
        if constexpr (kMembers) {
            *p++ = '"';
            Detail::CopySmall(p, name, nameLength);
            p += nameLength;
            *p++ = '"';
            *p++ = ':';
        }
        line.Commit(p);
        return line;
    }

    template <class T, class Shown = T>
    void PutInteger(const char* name, T value) {
        Detail::CTextBuffer& line = Begin(name);
        if (m_output->OwnNumbers()) {
            Detail::AppendInteger(line, static_cast<Shown>(value));
            m_output->Flush();
        } else {
            m_output->Send();
            *m_output->stream << static_cast<Shown>(value);
        }
    }

    void PutFloating(const char* name, double value, int digits) {
        Detail::CTextBuffer& line = Begin(name);
        m_output->stream->precision(digits);
        if (m_output->OwnNumbers()) {
            Detail::AppendGeneral(line, value, digits);
            m_output->Flush();
        } else {
            m_output->Send();
            *m_output->stream << value;
        }
    }

    void PutBool(const char* name, bool value) {
        Detail::CTextBuffer& line = Begin(name);
        m_output->stream->setf(std::ios_base::boolalpha);
        if (m_output->OwnNumbers()) {
            if (value) {
                line.append("true", 4);
            } else {
                line.append("false", 5);
            }
            m_output->Flush();
        } else {
            m_output->Send();
            *m_output->stream << value;
        }
    }

    // Narrow text ends at its first NUL, as the zero-terminated text it stands for.
    void PutText(const char* name, const char* data, size_t size) {
        const void* nul = std::memchr(data, 0, size);
        if (nul != nullptr) size = static_cast<size_t>(static_cast<const char*>(nul) - data);
        AppendQuoted(Begin(name), data, size);
        m_output->Flush();
    }

    void PutWide(const char* name, const std::wstring& value) {
        Detail::CTextBuffer& line = Begin(name);
        std::string& utf8 = m_output->scratch;
        utf8.clear();
        Detail::AppendUtf8(utf8, value);
        AppendQuoted(line, utf8.data(), utf8.size());
        m_output->Flush();
    }

    void PutDateTime(const char* name, const IDateTime& value) {
        Detail::CTextBuffer& line = Begin(name);
        const QvDateTime copy(value);
        std::string& iso = m_output->scratch;
        iso.clear();
        copy.AppendIso(iso);
        line.push_back('"');
        line.append(iso);
        line.push_back('"');
        m_output->Flush();
    }

    void PutBlob(const char* name, size_t size, const void* data) {
        Detail::CTextBuffer& line = Begin(name);
        const std::string text = Base64::Encode(data, size, false);
        line.push_back('"');
        line.append(text);
        line.push_back('"');
        m_output->Flush();
    }

    template <class Nested, class Value>
    void PutBlock(const char* name, const Value& value, char open, char close) {
        Detail::CTextBuffer& line = Begin(name);
        if constexpr (kMembers) {
            line.push_back('\n');
            line.append(m_indent);
        }
        line.push_back(open);
        m_output->Flush();
        {
            Nested nested(*m_output, m_indent + '\t');
            value.Write(nested);
        }
        Detail::CTextBuffer& tail = m_output->line;
        tail.push_back('\n');
        tail.append(m_indent);
        tail.push_back(close);
        m_output->Flush();
    }

    SJsonOutput* m_output;
    std::string m_indent;  // start of every line of this block after the first
    unsigned int m_count = 0;
};

class CDataWriterJson final : public CWriterJsonBase<IDataWriter> {
public:
    CDataWriterJson(SJsonOutput& output, std::string indent)
        : CWriterJsonBase(output, std::move(indent)) {}

    void Write(const char* name, size_t size, const void* data) override {
        PutBlob(name, size, data);
    }
    void Write(const char* name, const ISerializableContainer& value) override;
    void Write(const char* name, const ISerializable& value) override;
    void Write(const char* name, const IDateTime& value) override { PutDateTime(name, value); }
    void Write(const char* name, const std::wstring& value) override { PutWide(name, value); }
    void Write(const char* name, const std::string& value) override {
        PutText(name, value.data(), value.size());
    }
    void Write(const char* name, char value) override { PutText(name, &value, 1); }
    void Write(const char* name, double value) override { PutFloating(name, value, kDoubleDigits); }
    void Write(const char* name, float value) override {
        PutFloating(name, static_cast<double>(value), kFloatDigits);
    }
    void Write(const char* name, long long value) override { PutInteger(name, value); }
    void Write(const char* name, unsigned long long value) override { PutInteger(name, value); }
    void Write(const char* name, int value) override { PutInteger(name, value); }
    void Write(const char* name, unsigned int value) override { PutInteger(name, value); }
    void Write(const char* name, short value) override { PutInteger(name, value); }
    void Write(const char* name, unsigned short value) override { PutInteger(name, value); }
    void Write(const char* name, signed char value) override {
        PutInteger<signed char, int>(name, value);
    }
    void Write(const char* name, unsigned char value) override {
        PutInteger<unsigned char, unsigned int>(name, value);
    }
    void Write(const char* name, bool value) override { PutBool(name, value); }
};

class CContainerWriterJson final : public CWriterJsonBase<IContainerWriter> {
public:
    CContainerWriterJson(SJsonOutput& output, std::string indent)
        : CWriterJsonBase(output, std::move(indent)) {}

    void Write(size_t size, const void* data) override { PutBlob(nullptr, size, data); }
    void Write(const ISerializableContainer& value) override {
        PutBlock<CContainerWriterJson>(nullptr, value, '[', ']');
    }
    void Write(const ISerializable& value) override {
        PutBlock<CDataWriterJson>(nullptr, value, '{', '}');
    }
    void Write(const IDateTime& value) override { PutDateTime(nullptr, value); }
    void Write(const std::wstring& value) override { PutWide(nullptr, value); }
    void Write(const std::string& value) override { PutText(nullptr, value.data(), value.size()); }
    void Write(char value) override { PutText(nullptr, &value, 1); }
    void Write(double value) override { PutFloating(nullptr, value, kDoubleDigits); }
    void Write(float value) override {
        PutFloating(nullptr, static_cast<double>(value), kFloatDigits);
    }
    void Write(long long value) override { PutInteger(nullptr, value); }
    void Write(unsigned long long value) override { PutInteger(nullptr, value); }
    void Write(int value) override { PutInteger(nullptr, value); }
    void Write(unsigned int value) override { PutInteger(nullptr, value); }
    void Write(short value) override { PutInteger(nullptr, value); }
    void Write(unsigned short value) override { PutInteger(nullptr, value); }
    void Write(signed char value) override { PutInteger<signed char, int>(nullptr, value); }
    void Write(unsigned char value) override {
        PutInteger<unsigned char, unsigned int>(nullptr, value);
    }
    void Write(bool value) override { PutBool(nullptr, value); }
};

void CDataWriterJson::Write(const char* name, const ISerializableContainer& value) {
    PutBlock<CContainerWriterJson>(name, value, '[', ']');
}

void CDataWriterJson::Write(const char* name, const ISerializable& value) {
    PutBlock<CDataWriterJson>(name, value, '{', '}');
}

// Writes one document with the root block writer `Root`.
template <class Root, class Value>
void WriteDocument(SJsonOutput& output, const Value& value, char open, char close) {
    output.classicLocale = FormatsLikeClassic(*output.stream);
    output.line.push_back(open);
    output.Flush();
    {
        Root root(output, std::string(1, '\t'));
        value.Write(root);
    }
    const char tail[3] = {'\n', close, '\n'};
    output.line.append(tail, 3);
    output.Send();
}

// One Write behind the writers' exception boundary. The text of a value that was being
// assembled when a failure came is sent to the stream as far as it got (separator and name),
// as a writer streaming piece by piece would have.
template <class Root, class Value>
void WriteGuarded(Detail::ERaise place, std::ostream& stream, const Value& value, char open,
                  char close) {
    SJsonOutput output{&stream, false, {}, {}};
    Detail::GuardWrite(
        place, [&] { WriteDocument<Root>(output, value, open, close); }, [&] { output.Send(); });
}

}  // namespace

CWriterJson::CWriterJson(std::ostringstream& stream) : m_stream(&stream) {}
CWriterJson::CWriterJson(std::ostream& stream) : m_stream(&stream) {}
CWriterJson::CWriterJson(const CWriterJson& other) = default;
CWriterJson& CWriterJson::operator=(const CWriterJson& other) = default;
CWriterJson::~CWriterJson() = default;

void CWriterJson::Write(const ISerializable& object) {
    WriteGuarded<CDataWriterJson>(Detail::ERaise::JsonWriteObject, *m_stream, object, '{', '}');
}

void CWriterJson::Write(const ISerializableContainer& container) {
    WriteGuarded<CContainerWriterJson>(Detail::ERaise::JsonWriteContainer, *m_stream, container,
                                       '[', ']');
}

}  // namespace Tavrin
