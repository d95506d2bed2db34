// tavrin: see, check and convert the library's documents without the application's classes.
//
//   tavrin show FILE | convert IN OUT | check FILE... | stat FILE | base64 ... | text ...
//
// Exit status: 0 success, 1 failure (a message on standard error), 2 usage error.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <new>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <tavrin/tavrin.h>

#include "help.h"
#include "tree.h"

namespace TavrinTool {
namespace {

namespace fs = std::filesystem;
using Tavrin::CBinaryDocument;
using Tavrin::SBinaryNode;

// A failure with its message; `status` 2 for usage errors.
struct SToolError : std::runtime_error {
    SToolError(const std::string& message, int s = 1) : std::runtime_error(message), status(s) {}
    int status;
};

[[noreturn]] void Usage(const std::string& message) { throw SToolError(message, 2); }

// ---- Arguments ---------------------------------------------------------------------------------

struct SArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // "--to" -> "json"; flags -> ""
    bool help = false;

    bool Has(const std::string& o) const { return options.count(o) != 0; }
    std::string Get(const std::string& o, const std::string& fallback = {}) const {
        const auto it = options.find(o);
        return it != options.end() ? it->second : fallback;
    }
};

// Options that take a value, per command; any other "--x" is a flag of `flags` or an error.
SArgs ParseArgs(const std::vector<std::string>& args, const std::vector<std::string>& valued,
                const std::vector<std::string>& flags) {
    SArgs a;
    bool onlyPositional = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& s = args[i];
        if (onlyPositional || s == "-" || s.size() < 2 || s[0] != '-') {
            a.positional.push_back(s);
        } else if (s == "--") {
            onlyPositional = true;
        } else if (s == "--help" || s == "-h") {
            a.help = true;
        } else {
            std::string name = s, value;
            const size_t eq = s.find('=');
            if (eq != std::string::npos) {
                name = s.substr(0, eq);
                value = s.substr(eq + 1);
            }
            if (std::find(valued.begin(), valued.end(), name) != valued.end()) {
                if (eq == std::string::npos) {
                    if (i + 1 >= args.size()) Usage("option " + name + " needs a value");
                    value = args[++i];
                }
                a.options[name] = value;
            } else if (std::find(flags.begin(), flags.end(), name) != flags.end() &&
                       eq == std::string::npos) {
                a.options[name] = "";
            } else {
                Usage("unknown option " + s);
            }
        }
    }
    return a;
}

// ---- Files -------------------------------------------------------------------------------------

// The path named by UTF-8 text, and back.
fs::path PathOf(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

// A path as UTF-8 text.
std::string Utf8(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

std::string Describe(const std::string& path) {
    return path == "-" ? "standard input" : "'" + path + "'";
}

// The whole content of a file, or of standard input for "-".
std::string ReadAll(const std::string& path) {
    std::string data;
    if (path == "-") {
        Tavrin::Console::SetBinary(Tavrin::Console::EStream::Input);
        data.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        if (std::cin.bad()) throw SToolError("cannot read standard input");
        return data;
    }
    std::error_code ec;
    const fs::path p = PathOf(path);
    const fs::file_status st = fs::status(p, ec);
    if (!fs::exists(st)) throw SToolError(Describe(path) + ": no such file");
    if (fs::is_directory(st)) throw SToolError(Describe(path) + ": is a directory");
    std::ifstream in(p, std::ios::binary);
    if (!in) throw SToolError(Describe(path) + ": cannot be opened for reading (permission?)");
    const auto size = fs::file_size(p, ec);
    if (!ec) {
        data.resize(static_cast<size_t>(size));
        in.read(data.data(), static_cast<std::streamsize>(size));
        data.resize(static_cast<size_t>(in.gcount()));
        if (in.bad()) throw SToolError(Describe(path) + ": read error");
        if (in.eof() || in.peek() == std::char_traits<char>::eof()) return data;
    }
    // A file that grew meanwhile, or one without a size (a pipe): the rest as it comes.
    in.clear();
    data.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) throw SToolError(Describe(path) + ": read error");
    return data;
}

// A file written under a temporary name beside its final place and renamed into it once
// complete, so that a failure leaves no partial file; "-" is standard output.
class COutputFile {
public:
    explicit COutputFile(std::string path) : m_path(std::move(path)) {
        if (m_path == "-") return;
        const fs::path target = PathOf(m_path);
        fs::path dir = target.parent_path();
        if (dir.empty()) dir = ".";
        std::error_code ec;
        if (!fs::is_directory(dir, ec)) {
            throw SToolError("'" + m_path + "': directory '" + Utf8(dir) + "' does not exist");
        }
        if (fs::is_directory(target, ec)) throw SToolError("'" + m_path + "': is a directory");
        std::random_device random;
        m_temp = target;
        m_temp += ".tavrin-" + std::to_string(random() % 1000000) + ".tmp";
    }
    ~COutputFile() {
        if (!m_temp.empty() && !m_committed) {
            std::error_code ec;
            fs::remove(m_temp, ec);
        }
    }
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // Where a library call that writes a file itself should write.
    const fs::path& TempPath() const { return m_temp; }
    bool IsStdout() const { return m_path == "-"; }

    void Write(std::string_view bytes) {
        if (IsStdout()) {
            Tavrin::Console::SetBinary(Tavrin::Console::EStream::Output);
            if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
                std::fflush(stdout) != 0) {
                throw SToolError("cannot write to standard output");
            }
            m_committed = true;
            return;
        }
        {
            std::ofstream out(m_temp, std::ios::binary | std::ios::trunc);
            if (!out) throw SToolError("'" + m_path + "': cannot be created (permission?)");
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            out.close();
            if (!out) throw SToolError("'" + m_path + "': write error (disk full?)");
        }
        Commit();
    }

    // Moves the written temporary file into place.
    void Commit() {
        if (IsStdout()) return;
        std::error_code ec;
        fs::rename(m_temp, PathOf(m_path), ec);
        if (ec) throw SToolError("'" + m_path + "': cannot be replaced: " + ec.message());
        m_committed = true;
    }

private:
    std::string m_path;
    fs::path m_temp;
    bool m_committed = false;
};

// ---- Formats -----------------------------------------------------------------------------------

enum class EFormat { Binary, Json, Xml, Unknown };

const char* FormatName(EFormat f) {
    switch (f) {
        case EFormat::Binary: return "binary";
        case EFormat::Json: return "JSON";
        case EFormat::Xml: return "XML";
        default: return "unknown";
    }
}

EFormat ParseFormat(const std::string& s) {
    if (s == "binary" || s == "bin") return EFormat::Binary;
    if (s == "json") return EFormat::Json;
    if (s == "xml") return EFormat::Xml;
    Usage("unknown format '" + s + "' (binary, json or xml)");
}

size_t BomLength(std::string_view d) { return d.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0; }

// Told apart by content: a binary document starts with its 32-bit version (0, little-endian:
// three zero bytes follow the first), a JSON document with '{', '[' or null, an XML document
// with '<' (after an optional UTF-8 byte-order mark and white space).
EFormat Detect(std::string_view d) {
    if (d.size() >= 4 && d[1] == '\0' && d[2] == '\0' && d[3] == '\0') return EFormat::Binary;
    size_t i = BomLength(d);
    while (i < d.size() && (d[i] == ' ' || d[i] == '\t' || d[i] == '\n' || d[i] == '\r' ||
                            d[i] == '\v' || d[i] == '\f')) {
        ++i;
    }
    if (i == d.size()) return EFormat::Unknown;
    if (d[i] == '<') return EFormat::Xml;
    if (d[i] == '{' || d[i] == '[' || d.substr(i) == "null") return EFormat::Json;
    return EFormat::Unknown;
}

EFormat FormatOf(const SArgs& a, const std::string& option, std::string_view data,
                 const std::string& path) {
    if (a.Has(option)) return ParseFormat(a.Get(option));
    const EFormat f = Detect(data);
    if (f == EFormat::Unknown) {
        throw SToolError(Describe(path) + ": not a binary, JSON or XML document (give " + option +
                         " to say which)");
    }
    return f;
}

// Line and column (from 1) of a byte offset.
std::string Position(std::string_view text, size_t offset) {
    offset = std::min(offset, text.size());
    size_t line = 1, column = 1;
    for (size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

const char* ExceptionType(const IException& e) {
    if (dynamic_cast<const QvExceptionConversion*>(&e)) return "QvExceptionConversion";
    if (dynamic_cast<const QvExceptionContainer*>(&e)) return "QvExceptionContainer";
    if (dynamic_cast<const QvExceptionWrongFileVersion*>(&e)) return "QvExceptionWrongFileVersion";
    if (dynamic_cast<const Tavrin::CException*>(&e)) return "CException";
    return "IException";
}

std::string ExceptionText(const IException& e) {
    return std::string(ExceptionType(e)) + " raised in " + e.GetFunctionName() + " (" +
           e.GetFilename() + ", line " + std::to_string(e.GetCodeLine()) + ")";
}

// What a reader says about a document: the exception and, for text, where reading stopped.
struct SParseFailure : SToolError {
    using SToolError::SToolError;
};

// The parsed forms of one input document; the text stays alive as long as the parses.
struct SDocument {
    EFormat format = EFormat::Unknown;
    std::string data;
    std::unique_ptr<CBinaryDocument> binary;
    std::unique_ptr<Tavrin::CJsonDocument> json;
    std::unique_ptr<Tavrin::CXmlDocument> xml;
};

void Load(SDocument& d, const std::string& path) {
    try {
        switch (d.format) {
            case EFormat::Binary:
                d.binary = std::make_unique<CBinaryDocument>(d.data.data(), d.data.size());
                break;
            case EFormat::Json:
                d.json = std::make_unique<Tavrin::CJsonDocument>();
                try {
                    d.json->Parse(d.data.c_str());
                } catch (const IException& e) {
                    throw SParseFailure(Describe(path) + ": " + ExceptionText(e) +
                                        "; reading stopped at " +
                                        Position(d.data, d.json->GetStopOffset()));
                }
                break;
            case EFormat::Xml: {
                d.xml = std::make_unique<Tavrin::CXmlDocument>();
                const size_t bom = BomLength(d.data);
                if (!d.xml->Parse(d.data.c_str() + bom)) {
                    throw SParseFailure(
                        Describe(path) +
                        ": malformed XML (the reader would find no values); reading stopped at " +
                        Position(d.data, bom + d.xml->GetStopOffset()));
                }
                break;
            }
            default: break;
        }
    } catch (const IException& e) {
        throw SParseFailure(Describe(path) + ": " + ExceptionText(e));
    }
}

SDocument Open(const std::string& path, const SArgs& a, const std::string& option) {
    SDocument d;
    d.data = ReadAll(path);
    d.format = FormatOf(a, option, d.data, path);
    Load(d, path);
    return d;
}

// ---- show --------------------------------------------------------------------------------------

// Output built in a buffer and handed to standard output in large pieces.
class CPrinter {
public:
    ~CPrinter() { Flush(); }
    std::string& Line(unsigned int depth) {
        m_buffer.append(2 * static_cast<size_t>(depth), ' ');
        return m_buffer;
    }
    void End() {
        m_buffer.push_back('\n');
        if (m_buffer.size() > (1u << 20)) Flush();
    }
    void Flush() {
        if (!m_buffer.empty()) std::fwrite(m_buffer.data(), 1, m_buffer.size(), stdout);
        m_buffer.clear();
    }

private:
    std::string m_buffer;
};

void AppendQuoted(std::string& out, std::string_view s) {
    out.push_back('"');
    for (const char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (u < 0x20 || u == 0x7F) {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02X", u);
                    out += hex;
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
}

template <class T>
void AppendNumber(std::string& out, T v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void AppendDateTime(std::string& out, uint64_t count) {
    const QvDateTime t = QvDateTime::FromFileTime(count);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", t.GetYear(), t.GetMonth(),
                  t.GetDay(), t.GetHour(), t.GetMinute(), t.GetSecond(), t.GetMilliseconds());
    out += buf;
}

void AppendHex(std::string& out, const void* data, uint64_t size, size_t most) {
    static const char digits[] = "0123456789abcdef";
    const auto* p = static_cast<const unsigned char*>(data);
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size, most));
    for (size_t i = 0; i < n; ++i) {
        if (i) out.push_back(' ');
        out.push_back(digits[p[i] >> 4]);
        out.push_back(digits[p[i] & 15]);
    }
    if (size > most) out += " ...";
}

// The value of a scalar, text, date-time or blob node.
void AppendBinaryValue(std::string& out, const SBinaryNode& n) {
    const uint64_t b = n.bits;
    switch (n.kind) {
        case Tavrin::EValueKind::Bool: out += b ? "true" : "false"; break;
        case Tavrin::EValueKind::Char:
            AppendQuoted(out, std::string_view(reinterpret_cast<const char*>(&b), 1));
            break;
        case Tavrin::EValueKind::UInt8:
        case Tavrin::EValueKind::UInt16:
        case Tavrin::EValueKind::UInt32:
        case Tavrin::EValueKind::UInt64: AppendNumber(out, b); break;
        case Tavrin::EValueKind::Int8:
            AppendNumber(out, static_cast<int>(static_cast<int8_t>(b)));
            break;
        case Tavrin::EValueKind::Int16:
            AppendNumber(out, static_cast<int>(static_cast<int16_t>(b)));
            break;
        case Tavrin::EValueKind::Int32: AppendNumber(out, static_cast<int32_t>(b)); break;
        case Tavrin::EValueKind::Int64: AppendNumber(out, static_cast<int64_t>(b)); break;
        case Tavrin::EValueKind::Float: {
            float f;
            std::memcpy(&f, &b, 4);
            AppendNumber(out, f);
            break;
        }
        case Tavrin::EValueKind::Double: {
            double d;
            std::memcpy(&d, &b, 8);
            AppendNumber(out, d);
            break;
        }
        case Tavrin::EValueKind::String:
            AppendQuoted(out, std::string_view(static_cast<const char*>(n.data),
                                               static_cast<size_t>(n.size)));
            break;
        case Tavrin::EValueKind::WString: {
            std::string utf8;
            Tavrin::Encodings::AppendUTF8(utf8, CBinaryDocument::WideText(n));
            AppendQuoted(out, utf8);
            break;
        }
        case Tavrin::EValueKind::DateTime: AppendDateTime(out, b); break;
        case Tavrin::EValueKind::Blob:
            AppendNumber(out, n.size);
            out += " bytes";
            if (n.size) {
                out += ": ";
                AppendHex(out, n.data, n.size, 16);
            }
            break;
        default: break;
    }
}

void ShowBinaryNode(CPrinter& p, const CBinaryDocument& doc, const SBinaryNode& n,
                    unsigned int depth, const std::string& label, CProgress& progress) {
    progress.Step();
    std::string& out = p.Line(depth);
    out += label;
    out += Tavrin::ValueKindName(n.kind);
    if (n.kind == Tavrin::EValueKind::Object) {
        if (n.className != SBinaryNode::kNone) {
            out += ' ';
            out += doc.GetName(n.className);
        }
        out += " (";
        AppendNumber(out, n.size);
        out += n.size == 1 ? " value)" : " values)";
        p.End();
        for (uint64_t i = 0; i < n.size; ++i) {
            const SBinaryNode& c = n.Children()[i];
            ShowBinaryNode(p, doc, c, depth + 1, std::string(doc.GetName(c.name)) + ": ", progress);
        }
    } else if (n.kind == Tavrin::EValueKind::Container) {
        out += " of ";
        AppendNumber(out, n.size);
        out += ' ';
        out += n.size ? Tavrin::ValueKindName(n.elementKind) : "elements";
        p.End();
        std::string index;
        for (uint64_t i = 0; i < n.size; ++i) {
            index = "[";
            AppendNumber(index, i);
            index += "] ";
            ShowBinaryNode(p, doc, n.Children()[i], depth + 1, index, progress);
        }
    } else {
        out += ' ';
        AppendBinaryValue(out, n);
        p.End();
    }
}

void ShowJson(CPrinter& p, const Tavrin::CJsonValue& v, unsigned int depth,
              const std::string& label, CProgress& progress) {
    using T = Tavrin::CJsonValue::EType;
    progress.Step();
    std::string& out = p.Line(depth);
    out += label;
    switch (v.GetType()) {
        case T::Null:
            out += "null";
            p.End();
            break;
        case T::Bare:
            out += v.GetText();
            p.End();
            break;
        case T::String:
            AppendQuoted(out, v.GetText());
            p.End();
            break;
        case T::Object:
            out += "object (";
            AppendNumber(out, v.GetCount());
            out += v.GetCount() == 1 ? " member)" : " members)";
            p.End();
            for (unsigned int i = 0; i < v.GetCount(); ++i) {
                ShowJson(p, v.GetChild(i), depth + 1, std::string(v.GetMemberName(i)) + ": ",
                         progress);
            }
            break;
        case T::Array:
            out += "array of ";
            AppendNumber(out, v.GetCount());
            p.End();
            for (unsigned int i = 0; i < v.GetCount(); ++i) {
                ShowJson(p, v.GetChild(i), depth + 1, "[" + std::to_string(i) + "] ", progress);
            }
            break;
    }
}

void ShowXml(CPrinter& p, const Tavrin::CXmlElement& e, unsigned int depth, CProgress& progress) {
    progress.Step();
    std::string& out = p.Line(depth);
    if (e.GetName().empty()) {
        out += "(top level)";
    } else {
        out += e.IsDeclaration() ? "<?" : "<";
        out += e.GetName();
        for (int i = 0; i < e.GetAttributeCount(); ++i) {
            out += ' ';
            out += e.GetAttributeName(i);
            if (e.GetAttributeValue(i).data() != nullptr) {
                out += '=';
                AppendQuoted(out, e.GetAttributeValue(i));
            }
        }
        out += '>';
    }
    for (int i = 0; i < e.GetTextCount(); ++i) {
        out += ' ';
        AppendQuoted(out, e.GetText(i));
    }
    for (int i = 0; i < e.GetRawCount(); ++i) {
        out += ' ';
        out += e.GetRawMarker(i);
        out += ' ';
        AppendNumber(out, e.GetRaw(i).size());
        out += " bytes ";
        const std::string_view raw = e.GetRaw(i);
        AppendQuoted(out, raw.substr(0, 40));
        if (raw.size() > 40) out += "...";
    }
    p.End();
    for (int i = 0; i < e.GetChildCount(); ++i) ShowXml(p, e.GetChild(i), depth + 1, progress);
}

int Show(const SArgs& a) {
    if (a.positional.size() != 1) Usage("show needs one FILE");
    const SDocument d = Open(a.positional[0], a, "--format");
    CProgress progress("showing",
                       d.format == EFormat::Binary ? CountValues(d.binary->GetRoot()) : 0);
    CPrinter p;
    switch (d.format) {
        case EFormat::Binary: {
            const SBinaryNode& root = d.binary->GetRoot();
            ShowBinaryNode(p, *d.binary, root, 0, "", progress);
            break;
        }
        case EFormat::Json: ShowJson(p, d.json->GetRoot(), 0, "", progress); break;
        default: ShowXml(p, d.xml->GetRoot(), 0, progress); break;
    }
    p.Flush();
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        throw SToolError("cannot write to standard output");
    return 0;
}

// ---- check -------------------------------------------------------------------------------------

// A message about `path` without the path in front, for lines that start with the path.
std::string WithoutPath(const std::string& path, std::string message) {
    const std::string prefix = Describe(path) + ": ";
    if (message.compare(0, prefix.size(), prefix) == 0) message.erase(0, prefix.size());
    return message;
}

int Check(const SArgs& a) {
    if (a.positional.empty()) Usage("check needs at least one FILE");
    int status = 0;
    for (const std::string& path : a.positional) {
        try {
            SDocument d;
            d.data = ReadAll(path);
            d.format = FormatOf(a, "--format", d.data, path);
            if (d.format == EFormat::Binary) {
                // The reader itself, as an application would meet the document.
                try {
                    QvStreamReadBinaryBuffer stream(d.data.data(), d.data.size());
                    const Tavrin::CReaderBinary reader(stream);
                } catch (const IException& e) {
                    throw SParseFailure(Describe(path) + ": " + ExceptionText(e));
                }
            } else {
                Load(d, path);
            }
            std::printf("%s: ok (%s)\n", path.c_str(), FormatName(d.format));
        } catch (const SToolError& e) {
            if (e.status == 2) throw;
            std::printf("%s: %s\n", path.c_str(), WithoutPath(path, e.what()).c_str());
            status = 1;
        }
    }
    std::fflush(stdout);
    return status;
}

// ---- stat --------------------------------------------------------------------------------------

struct SCounts {
    uint64_t kinds[Tavrin::kValueKindCount] = {};
    unsigned int deepest = 0;
};

void Count(const SBinaryNode& n, unsigned int depth, SCounts& c) {
    c.deepest = std::max(c.deepest, depth);
    if (n.kind != Tavrin::EValueKind::Object && n.kind != Tavrin::EValueKind::Container) return;
    for (uint64_t i = 0; i < n.size; ++i) {
        const SBinaryNode& child = n.Children()[i];
        ++c.kinds[static_cast<unsigned>(child.kind)];
        Count(child, depth + 1, c);
    }
}

int Stat(const SArgs& a) {
    if (a.positional.size() != 1) Usage("stat needs one FILE");
    const SDocument d = Open(a.positional[0], a, "--format");
    if (d.format != EFormat::Binary) {
        throw SToolError(Describe(a.positional[0]) + ": stat describes binary documents; this is " +
                         FormatName(d.format));
    }
    const CBinaryDocument& doc = *d.binary;
    const SBinaryNode& root = doc.GetRoot();
    SCounts counts;
    Count(root, 1, counts);
    std::string out;
    out += "version: 0\nroot: ";
    out += Tavrin::ValueKindName(root.kind);
    out += "\nsize: " + std::to_string(doc.GetSize()) + " bytes";
    if (doc.GetSize() < d.data.size()) {
        out += " (" + std::to_string(d.data.size() - doc.GetSize()) +
               " more bytes follow the document)";
    }
    out += "\nname table: " + std::to_string(doc.GetNameEntryCount()) + " entries\n";
    for (size_t i = 0; i < doc.GetNameEntryCount(); ++i) {
        const auto e = doc.GetNameEntry(i);
        out += "  " + std::to_string(e.id) + " ";
        AppendQuoted(out, doc.GetName(e.name));
        out += '\n';
    }
    out += "values per kind:\n";
    for (unsigned k = 0; k < Tavrin::kValueKindCount; ++k) {
        if (counts.kinds[k] == 0) continue;
        out += "  " + std::string(Tavrin::ValueKindName(static_cast<Tavrin::EValueKind>(k))) +
               ": " + std::to_string(counts.kinds[k]) + "\n";
    }
    out += "deepest nesting: " + std::to_string(counts.deepest) + "\n";
    const Tavrin::SBinaryLayout& layout = doc.GetLayout();
    out += "bytes per section:\n  header: " + std::to_string(layout.header) +
           "\n  name table: " + std::to_string(layout.nameTable) + "\n";
    for (unsigned k = 0; k < Tavrin::kValueKindCount; ++k) {
        if (layout.kinds[k] == 0) continue;
        out += "  " + std::string(Tavrin::ValueKindName(static_cast<Tavrin::EValueKind>(k))) +
               ": " + std::to_string(layout.kinds[k]) + "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

// ---- convert -----------------------------------------------------------------------------------

EFormat TargetFormat(const SArgs& a, const std::string& out) {
    if (a.Has("--to")) return ParseFormat(a.Get("--to"));
    const std::string ext = Utf8(PathOf(out).extension());
    if (ext == ".bin") return EFormat::Binary;
    if (ext == ".json") return EFormat::Json;
    if (ext == ".xml") return EFormat::Xml;
    Usage("say which format to write with --to binary|json|xml");
}

int Convert(const SArgs& a) {
    if (a.positional.size() != 2) Usage("convert needs IN and OUT");
    const std::string& inPath = a.positional[0];
    const std::string& outPath = a.positional[1];
    const EFormat to = TargetFormat(a, outPath);
    COutputFile out(outPath);  // checks the directory before the work
    const SDocument in = Open(inPath, a, "--from");

    SDocument like;
    if (a.Has("--like")) {
        like = Open(a.Get("--like"), SArgs{}, "--format");
        if (like.format != EFormat::Binary) {
            throw SToolError(Describe(a.Get("--like")) + ": --like needs a binary document");
        }
    }

    std::vector<std::string> warnings;
    SValue tree;
    const bool fromTree = in.format != EFormat::Binary;
    {
        CProgress reading("reading");
        if (in.format == EFormat::Json)
            tree = ReadJsonTree(*in.json, like.binary.get(), warnings, &reading);
        if (in.format == EFormat::Xml)
            tree = ReadXmlTree(*in.xml, like.binary.get(), warnings, &reading);
    }
    if (fromTree && to == EFormat::Binary && like.binary && !OrderLike(tree, *like.binary)) {
        warnings.push_back(
            "the values could not be put in the order of the --like document: "
            "its name table and sections may differ");
    }
    // An XML document names its root; JSON and binary documents do not.
    const std::string rootClass =
        a.Get("--class", in.format == EFormat::Xml && !tree.className.empty()
                             ? tree.className
                             : std::string(kDefaultRootClass));
    if (fromTree) tree.className = rootClass;

    CProgress progress("writing", fromTree ? CountValues(tree) : CountValues(in.binary->GetRoot()));
    std::string bytes;
    try {
        if (to == EFormat::Binary) {
            QvStreamWriteBinaryBuffer buffer;
            Tavrin::CWriterBinary writer(buffer);
            if (fromTree) {
                WriteTree(writer, tree, &progress);
            } else {
                WriteBinaryNode(writer, *in.binary, rootClass, &progress);
            }
            bytes.assign(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetCount());
        } else {
            std::ostringstream text;
            std::unique_ptr<Tavrin::IWriter> writer;
            if (to == EFormat::Json) {
                writer = std::make_unique<Tavrin::CWriterJson>(text);
            } else {
                writer = std::make_unique<Tavrin::CWriterXml>(text);
            }
            if (fromTree) {
                WriteTree(*writer, tree, &progress);
            } else {
                WriteBinaryNode(*writer, *in.binary, rootClass, &progress);
            }
            bytes = std::move(text).str();
        }
    } catch (const IException& e) {
        throw SToolError("writing " + std::string(FormatName(to)) + ": " + ExceptionText(e));
    }
    for (const std::string& w : warnings) std::fprintf(stderr, "tavrin: warning: %s\n", w.c_str());
    out.Write(bytes);
    return 0;
}

// ---- base64 and text ---------------------------------------------------------------------------

int Base64Command(const SArgs& a) {
    if (a.positional.empty()) Usage("base64 needs encode or decode");
    const std::string& mode = a.positional[0];
    if (a.positional.size() > 3) Usage("base64 takes at most IN and OUT");
    const std::string inPath = a.positional.size() > 1 ? a.positional[1] : "-";
    const std::string outPath = a.positional.size() > 2 ? a.positional[2] : "-";
    if (mode != "encode" && mode != "decode")
        Usage("base64 needs encode or decode, not '" + mode + "'");
    COutputFile out(outPath);
    const std::string data = ReadAll(inPath);
    std::string result;
    if (mode == "encode") {
        result = Tavrin::Base64::Encode(data.data(), data.size(), a.Has("--lines"));
        if (!result.empty()) result.push_back('\n');
    } else {
        std::string text = data;
        if (text.find('\0') != std::string::npos)
            throw SToolError(Describe(inPath) + ": not Base64 text (a zero byte)");
        // Line ends after the text would hide its padding from the decoder's size.
        text.erase(text.find_last_not_of(" \t\r\n") + 1);
        if (!text.empty()) {
            const size_t n = Tavrin::Base64::GetDecodedSize(text.c_str());
            result.resize(n);
            try {
                Tavrin::Base64::Decode(text.c_str(), result.data(), n);
            } catch (const IException& e) {
                throw SToolError(Describe(inPath) + ": not Base64 text: " + ExceptionText(e));
            }
        }
    }
    out.Write(result);
    return 0;
}

unsigned int CodePageArg(const std::string& s, const char* option) {
    unsigned int cp = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), cp);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
        Usage(std::string(option) + " needs a code-page number, not '" + s + "'");
    }
    // A code page that converts nothing is not one the library knows.
    if (cp != 65001 && Tavrin::Encodings::ToCodePage(L"A", cp).empty()) {
        throw SToolError("code page " + s + " is unknown here (or has no narrow form)");
    }
    return cp;
}

Tavrin::CTextFile ReadTextFile(const std::string& path) {
    Tavrin::CTextFile file;
    if (path == "-") {
        file.SetText(ReadAll(path));
        return file;
    }
    ReadAll(path);  // the clear messages for missing files and directories
    try {
        file.Read(PathOf(path).wstring());
    } catch (const IException& e) {
        throw SToolError(Describe(path) + ": " + ExceptionText(e));
    }
    return file;
}

int Text(const SArgs& a) {
    if (a.positional.empty()) Usage("text needs guess or convert");
    const std::string& mode = a.positional[0];
    if (mode == "guess") {
        if (a.positional.size() < 2) Usage("text guess needs at least one FILE");
        int status = 0;
        for (size_t i = 1; i < a.positional.size(); ++i) {
            const std::string& path = a.positional[i];
            try {
                const unsigned int cp = ReadTextFile(path).GuessCodePage();
                if (cp != 0) {
                    std::printf("%s: %u (certain)\n", path.c_str(), cp);
                } else {
                    std::printf("%s: unknown (no certain guess)\n", path.c_str());
                }
            } catch (const SToolError& e) {
                std::printf("%s: %s\n", path.c_str(), WithoutPath(path, e.what()).c_str());
                status = 1;
            } catch (const IException& e) {
                std::printf("%s: %s\n", path.c_str(), ExceptionText(e).c_str());
                status = 1;
            }
        }
        return status;
    }
    if (mode != "convert") Usage("text needs guess or convert, not '" + mode + "'");
    if (a.positional.size() != 3) Usage("text convert needs IN and OUT");
    if (!a.Has("--to")) Usage("text convert needs --to CP");
    const unsigned int to = CodePageArg(a.Get("--to"), "--to");
    unsigned int from = a.Has("--from") ? CodePageArg(a.Get("--from"), "--from") : 0;
    COutputFile out(a.positional[2]);
    const Tavrin::CTextFile in = ReadTextFile(a.positional[1]);
    if (!a.Has("--from")) {
        from = in.GuessCodePage();
        if (from == 0) {
            throw SToolError(Describe(a.positional[1]) +
                             ": its code page cannot be guessed with certainty; give --from CP");
        }
    }
    Tavrin::CTextFile converted;
    converted.SetText(in.GetText(from), to);
    if (out.IsStdout()) {
        out.Write(converted.GetTextRaw());
    } else {
        try {
            converted.Write(out.TempPath().wstring());
        } catch (const IException& e) {
            throw SToolError("'" + a.positional[2] + "': " + ExceptionText(e));
        }
        out.Commit();
    }
    return 0;
}

// ---- main --------------------------------------------------------------------------------------

int Run(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fputs(kHelpMain, stderr);
        return 2;
    }
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kHelpMain, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("tavrin %s\n", TAVRIN_VERSION_STRING);
        return 0;
    }
    struct SCommand {
        const char* name;
        const char* help;
        std::vector<std::string> valued, flags;
        int (*run)(const SArgs&);
    };
    const SCommand commands[] = {
        {"show", kHelpShow, {"--format"}, {}, Show},
        {"convert", kHelpConvert, {"--to", "--from", "--like", "--class"}, {}, Convert},
        {"check", kHelpCheck, {"--format"}, {}, Check},
        {"stat", kHelpStat, {"--format"}, {}, Stat},
        {"base64", kHelpBase64, {}, {"--lines"}, Base64Command},
        {"text", kHelpText, {"--to", "--from"}, {}, Text},
    };
    for (const SCommand& c : commands) {
        if (command != c.name) continue;
        const SArgs a = ParseArgs(rest, c.valued, c.flags);
        if (a.help) {
            std::fputs(c.help, stdout);
            return 0;
        }
        return c.run(a);
    }
    Usage("unknown command '" + command + "' (try tavrin --help)");
}

}  // namespace
}  // namespace TavrinTool

int main(int argc, char** argv) {
    // The tool reports failures itself; the library's log entries of them would repeat that.
    Logging::SetSink({});
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return TavrinTool::Run(args);
    } catch (const TavrinTool::SToolError& e) {
        std::fprintf(stderr, "tavrin: %s\n", e.what());
        if (e.status == 2) std::fputs("Try 'tavrin --help'.\n", stderr);
        return e.status;
    } catch (const IException& e) {
        std::fprintf(stderr, "tavrin: %s\n", TavrinTool::ExceptionText(e).c_str());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "tavrin: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tavrin: %s\n", e.what());
    }
    return 1;
}
