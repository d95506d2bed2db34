// The XML writer. Text goes into the caller's stream as the object calls the value writers:
// each call assembles its lines in a scratch string shared by the whole document and hands
// them to the stream at once, so that the stream always holds everything written so far.
#include <tavrin/cwriterxml.h>

#include <cstring>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>

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
#include "core/tavrin/xml/elementname.h"

namespace Tavrin {

namespace {

using Detail::kDoubleDigits;
using Detail::kFloatDigits;

constexpr std::string_view kDeclarationObject = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
constexpr std::string_view kDeclarationContainer = "<?xml version=\"1.0\"?>\n";
constexpr std::string_view kNamespaces =
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
    " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"";
constexpr std::string_view kElementName = "elt";

// A value name as written; null (not allowed by the interfaces) is taken as empty.
inline std::string_view Name(const char* name) {
    return name != nullptr ? std::string_view(name) : std::string_view();
}

// The six bytes that string values escape, in the order of the replacement passes; since
// "&" is replaced first, the ampersands of later replacements stay as they are, which a single
// pass reproduces by replacing each byte once.
struct SEscapeTable {
    const char* replacement[256] = {};
    constexpr SEscapeTable() {
        replacement[static_cast<unsigned char>('&')] = "&amp;";
        replacement[static_cast<unsigned char>('>')] = "&gt;";
        replacement[static_cast<unsigned char>('<')] = "&lt;";
        replacement[static_cast<unsigned char>('%')] = "&#37;";
        replacement[static_cast<unsigned char>('\n')] = "&#10;";
        replacement[static_cast<unsigned char>('\r')] = "&#13;";
    }
};
constexpr SEscapeTable kEscapes;

void AppendEscaped(Detail::CTextBuffer& out, std::string_view text) {
    char* p = out.Room(5 * text.size());  // no replacement is longer than five bytes
    const char* run = text.data();
    const char* const end = run + text.size();
    const char* c = run;
#if defined(__SSE2__)
    // Blocks of 16 bytes with none of the six go as they are.
    if (text.size() >= 16) {
        const __m128i amp = _mm_set1_epi8('&');
        const __m128i gt = _mm_set1_epi8('>');
        const __m128i lt = _mm_set1_epi8('<');
        const __m128i percent = _mm_set1_epi8('%');
        const __m128i lf = _mm_set1_epi8('\n');
        const __m128i cr = _mm_set1_epi8('\r');
        for (; end - c >= 16; c += 16) {
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
            const __m128i hit = _mm_or_si128(
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(b, amp), _mm_cmpeq_epi8(b, gt)),
                             _mm_or_si128(_mm_cmpeq_epi8(b, lt), _mm_cmpeq_epi8(b, percent))),
                _mm_or_si128(_mm_cmpeq_epi8(b, lf), _mm_cmpeq_epi8(b, cr)));
            if (_mm_movemask_epi8(hit) != 0) break;
        }
    }
#endif
    for (; c != end; ++c) {
        const char* replacement = kEscapes.replacement[static_cast<unsigned char>(*c)];
        if (replacement != nullptr) {
            Detail::CopySmall(p, run, static_cast<size_t>(c - run));
            p += c - run;
            const size_t length = std::strlen(replacement);
            Detail::CopySmall(p, replacement, length);
            p += length;
            run = c + 1;
        }
    }
    Detail::CopySmall(p, run, static_cast<size_t>(end - run));
    out.Commit(p + (end - run));
}

// State of one Write shared by all value writers of the document. Lines are assembled in one
// buffer and handed to the stream in large blocks: a call per line into the stream costs more
// than the line itself. Only whole lines ever reach the stream, as when each went on its own.
class CXmlOutput {
public:
    explicit CXmlOutput(std::ostream& stream) : m_stream(stream) {}

    std::ostream& Stream() { return m_stream; }

    // The buffer, for the next line: a line left unfinished by a failure is dropped.
    Detail::CTextBuffer& Begin() {
        m_line.Truncate(m_done);
        return m_line;
    }

    // Ends the line being assembled; the buffer goes to the stream once it is large.
    void Flush() {
        m_done = m_line.size();
        if (m_done >= kBlock) Finish();
    }

    // Hands every finished line to the stream.
    void Finish() {
        if (m_done == 0) return;
        // Emptied even when the stream throws, so that nothing is handed over twice.
        struct SClear {
            CXmlOutput& output;
            ~SClear() {
                output.m_line.clear();
                output.m_done = 0;
            }
        } clear{*this};
        m_stream.write(m_line.data(), static_cast<std::streamsize>(m_done));
    }

    void AppendIndent(size_t depth) {
        if (m_tabs.size() < depth) m_tabs.resize(depth, '\t');
        m_line.append(m_tabs.data(), depth);
    }

    std::string& Utf8() {
        m_utf8.clear();
        return m_utf8;
    }

private:
    static constexpr size_t kBlock = size_t{64} * 1024;

    std::ostream& m_stream;
    Detail::CTextBuffer m_line;
    size_t m_done = 0;  // bytes of m_line that are whole lines
    std::string m_utf8;
    std::string m_tabs;
};

// Writes the lines of values; `Name` tells how a value's element is named (by the object's
// value name, or "elt" in containers). Shared by the object and the container writer.
class CXmlValueLines {
public:
    CXmlValueLines(CXmlOutput& output, size_t depth) : m_output(output), m_depth(depth) {}

protected:
    // I <N> text </N>: `append` adds the value text.
    template <typename F>
    void Scalar(std::string_view name, F&& append) {
        Detail::CTextBuffer& line = m_output.Begin();
        m_output.AppendIndent(m_depth);
        line.push_back('<');
        line.append(name);
        line.push_back('>');
        append(line);
        line.append("</", 2);
        line.append(name);
        line.append(">\n", 2);
        m_output.Flush();
    }

    void Blob(std::string_view name, size_t size, const void* data) {
        const std::string text = Base64::Encode(data, size, true);
        Detail::CTextBuffer& line = m_output.Begin();
        m_output.AppendIndent(m_depth);
        line.push_back('<');
        line.append(name);
        line.append("><![CDATA[\n");
        line.append(text);
        line.push_back('\n');
        m_output.AppendIndent(m_depth);
        line.append("]]></", 5);
        line.append(name);
        line.append(">\n", 2);
        m_output.Flush();
    }

    void StartLine(std::string_view name) {
        Detail::CTextBuffer& line = m_output.Begin();
        m_output.AppendIndent(m_depth);
        line.push_back('<');
        line.append(name);
        line.append(">\n", 2);
        m_output.Flush();
    }

    void EndLine(std::string_view name) {
        Detail::CTextBuffer& line = m_output.Begin();
        m_output.AppendIndent(m_depth);
        line.append("</", 2);
        line.append(name);
        line.append(">\n", 2);
        m_output.Flush();
    }

    void String(std::string_view name, std::string_view value) {
        Scalar(name, [&](Detail::CTextBuffer& line) { AppendEscaped(line, value); });
    }

    void WideString(std::string_view name, const std::wstring& value) {
        std::string& utf8 = m_output.Utf8();
        Detail::AppendUtf8(utf8, value);
        Scalar(name, [&](Detail::CTextBuffer& line) { AppendEscaped(line, utf8); });
    }

    void DateTime(std::string_view name, const IDateTime& value) {
        const QvDateTime copy(value);
        std::string& iso = m_output.Utf8();
        copy.AppendIso(iso);
        Scalar(name, [&](Detail::CTextBuffer& line) { line.append(iso); });
    }

    void Char(std::string_view name, char value) {
        Scalar(name, [&](Detail::CTextBuffer& line) { line.push_back(value); });
    }

    void Double(std::string_view name, double value) {
        m_output.Stream().precision(kDoubleDigits);
        Scalar(name, [&](Detail::CTextBuffer& line) {
            Detail::AppendGeneral(line, value, kDoubleDigits);
        });
    }

    void Float(std::string_view name, float value) {
        m_output.Stream().precision(kFloatDigits);
        Scalar(name, [&](Detail::CTextBuffer& line) {
            Detail::AppendGeneral(line, static_cast<double>(value), kFloatDigits);
        });
    }

    template <typename T>
    void Integer(std::string_view name, T value) {
        Scalar(name, [&](Detail::CTextBuffer& line) { Detail::AppendInteger(line, value); });
    }

    void Bool(std::string_view name, bool value) {
        Scalar(name, [&](Detail::CTextBuffer& line) {
            line.append(value ? std::string_view("true") : std::string_view("false"));
        });
    }

    CXmlOutput& m_output;
    size_t m_depth;  // number of TABs at the start of this writer's lines
};

}  // namespace

// The IDataWriter handed to an object: one element per value, named after the value.
class CDataWriterXml final : public IDataWriter, private CXmlValueLines {
public:
    CDataWriterXml(CXmlOutput& output, size_t depth) : CXmlValueLines(output, depth) {}

    void Write(const char* name, size_t size, const void* data) override {
        Blob(Name(name), size, data);
    }
    void Write(const char* name, const ISerializableContainer& value) override;
    void Write(const char* name, const ISerializable& value) override;
    void Write(const char* name, const IDateTime& value) override { DateTime(Name(name), value); }
    void Write(const char* name, const std::wstring& value) override {
        WideString(Name(name), value);
    }
    void Write(const char* name, const std::string& value) override { String(Name(name), value); }
    void Write(const char* name, char value) override { Char(Name(name), value); }
    void Write(const char* name, double value) override { Double(Name(name), value); }
    void Write(const char* name, float value) override { Float(Name(name), value); }
    void Write(const char* name, long long value) override { Integer(Name(name), value); }
    void Write(const char* name, unsigned long long value) override { Integer(Name(name), value); }
    void Write(const char* name, int value) override { Integer(Name(name), value); }
    void Write(const char* name, unsigned int value) override { Integer(Name(name), value); }
    void Write(const char* name, short value) override { Integer(Name(name), value); }
    void Write(const char* name, unsigned short value) override { Integer(Name(name), value); }
    void Write(const char* name, signed char value) override {
        Integer(Name(name), static_cast<int>(value));
    }
    void Write(const char* name, unsigned char value) override {
        Integer(Name(name), static_cast<unsigned>(value));
    }
    void Write(const char* name, bool value) override { Bool(Name(name), value); }
};

// The IContainerWriter handed to a container: "elt" elements, and elements named after their
// class for objects and containers.
class CContainerWriterXml final : public IContainerWriter, private CXmlValueLines {
public:
    CContainerWriterXml(CXmlOutput& output, size_t depth) : CXmlValueLines(output, depth) {}

    void Write(size_t size, const void* data) override { Blob(kElementName, size, data); }
    void Write(const ISerializableContainer& value) override;
    void Write(const ISerializable& value) override;
    void Write(const IDateTime& value) override { DateTime(kElementName, value); }
    void Write(const std::wstring& value) override { WideString(kElementName, value); }
    void Write(const std::string& value) override { String(kElementName, value); }
    void Write(char value) override { Char(kElementName, value); }
    void Write(double value) override { Double(kElementName, value); }
    void Write(float value) override { Float(kElementName, value); }
    void Write(long long value) override { Integer(kElementName, value); }
    void Write(unsigned long long value) override { Integer(kElementName, value); }
    void Write(int value) override { Integer(kElementName, value); }
    void Write(unsigned int value) override { Integer(kElementName, value); }
    void Write(short value) override { Integer(kElementName, value); }
    void Write(unsigned short value) override { Integer(kElementName, value); }
    void Write(signed char value) override { Integer(kElementName, static_cast<int>(value)); }
    void Write(unsigned char value) override {
        Integer(kElementName, static_cast<unsigned>(value));
    }
    void Write(bool value) override { Bool(kElementName, value); }

private:
    template <typename TValue, typename TWriter>
    void Nested(const TValue& value);
};

void CDataWriterXml::Write(const char* name, const ISerializableContainer& value) {
    StartLine(Name(name));
    CContainerWriterXml writer(m_output, m_depth + 1);
    value.Write(writer);
    EndLine(Name(name));
}

void CDataWriterXml::Write(const char* name, const ISerializable& value) {
    StartLine(Name(name));
    CDataWriterXml writer(m_output, m_depth + 1);
    value.Write(writer);
    EndLine(Name(name));
}

template <typename TValue, typename TWriter>
void CContainerWriterXml::Nested(const TValue& value) {
    std::string name;
    Detail::AppendElementName(name, value.GetClassName());
    StartLine(name);
    TWriter writer(m_output, m_depth + 1);
    value.Write(writer);
    EndLine(name);
}

void CContainerWriterXml::Write(const ISerializableContainer& value) {
    Nested<ISerializableContainer, CContainerWriterXml>(value);
}

void CContainerWriterXml::Write(const ISerializable& value) {
    Nested<ISerializable, CDataWriterXml>(value);
}

namespace {

// Writes one document around the root's values; `TWriter` is the root's value writer.
template <typename TWriter, typename TRoot>
void WriteDocument(CXmlOutput& output, const TRoot& root, std::string_view declaration) {
    std::string name;
    Detail::AppendElementName(name, root.GetClassName());

    Detail::CTextBuffer& line = output.Begin();
    line.append(declaration);
    line.push_back('<');
    line.append(name);
    line.append(kNamespaces);
    line.append(">\n", 2);
    output.Flush();

    TWriter writer(output, 1);
    root.Write(writer);

    Detail::CTextBuffer& end = output.Begin();
    end.append("</", 2);
    end.append(name);
    end.append(">\n", 2);
    output.Flush();
    output.Finish();
}

// What the constructor sets on the stream, for the caller's later use of it: the writer's own
// number text does not depend on the stream's state.
void PrepareStream(std::ostream& stream) {
    stream.precision(16);
    stream.setf(std::ios_base::boolalpha);
}

// One Write behind the writers' exception boundary. After a failure the stream receives the
// lines finished before it, as when each line went to the stream on its own.
template <typename TWriter, typename TRoot>
void WriteGuarded(Detail::ERaise place, std::ostream& stream, const TRoot& root,
                  std::string_view declaration) {
    CXmlOutput output(stream);
    Detail::GuardWrite(
        place, [&] { WriteDocument<TWriter>(output, root, declaration); },
        [&] { output.Finish(); });
}

}  // namespace

CWriterXml::CWriterXml(std::ostringstream& stream) : m_stream(&stream) { PrepareStream(stream); }
CWriterXml::CWriterXml(std::ostream& stream) : m_stream(&stream) { PrepareStream(stream); }
CWriterXml::CWriterXml(const CWriterXml& other) = default;
CWriterXml& CWriterXml::operator=(const CWriterXml& other) = default;
CWriterXml::~CWriterXml() = default;

void CWriterXml::Write(const ISerializable& object) {
    WriteGuarded<CDataWriterXml>(Detail::ERaise::XmlWriteObject, *m_stream, object,
                                 kDeclarationObject);
}

void CWriterXml::Write(const ISerializableContainer& container) {
    WriteGuarded<CContainerWriterXml>(Detail::ERaise::XmlWriteContainer, *m_stream, container,
                                      kDeclarationContainer);
}

}  // namespace Tavrin
