// Generates core/platform/codepagefixes.inc from the reference dumps: for every single- and
// double-byte code page, the ICU converter whose tables come closest to Windows' and the
// corrections that make them equal (bytes read and characters written differently).
//
// usage: makefixes DUMP VERSION-FILE OUT
#include <unicode/ucnv.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/platform/codepagetable.h"
#include "tools/codepages/referencedump.h"

namespace {

using Tavrin::CodePageDump::SCodePage;
using Tavrin::Platform::Detail::CCodePageTable;
using Tavrin::Platform::Detail::SCodePageLayout;

struct SFix {
    std::uint16_t key;
    std::uint16_t value;
};

struct SFixes {
    std::vector<SFix> decode;
    std::vector<SFix> encode;
    size_t Size() const { return decode.size() + encode.size(); }
};

// The key of a decode entry (a byte, or lead << 8 | trail) when the entry is one the table
// holds; -1 for the others (longer samples, a lead byte with NUL).
int DecodeKey(const SCodePage& cp, const std::string& bytes) {
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    if (bytes.size() == 1) return cp.IsLeadByte(b0) ? -1 : b0;
    if (bytes.size() == 2 && cp.IsLeadByte(b0) && bytes[1] != 0) {
        return b0 << 8 | static_cast<unsigned char>(bytes[1]);
    }
    return -1;
}

SFixes Compare(const SCodePage& cp, const CCodePageTable& table) {
    SFixes fixes;
    for (const auto& e : cp.decode) {
        const int key = DecodeKey(cp, e.bytes);
        if (key < 0) continue;
        if (e.units.size() != 1) {
            std::fprintf(stderr, "%u: %zu units for one entry\n", cp.codePage, e.units.size());
            continue;
        }
        if (table.Decoded(static_cast<std::uint16_t>(key)) != e.units[0]) {
            fixes.decode.push_back({static_cast<std::uint16_t>(key), e.units[0]});
        }
    }
    for (const auto& e : cp.encode) {
        if (e.units.size() != 1) continue;
        std::uint16_t bytes = 0;
        if (e.bytes.size() == 1) {
            bytes = static_cast<unsigned char>(e.bytes[0]);
        } else if (e.bytes.size() == 2) {
            bytes = static_cast<std::uint16_t>(static_cast<unsigned char>(e.bytes[0]) << 8 |
                                               static_cast<unsigned char>(e.bytes[1]));
        } else {
            std::fprintf(stderr, "%u: %zu bytes for one unit\n", cp.codePage, e.bytes.size());
            continue;
        }
        if (table.Encoded(e.units[0]) != bytes) fixes.encode.push_back({e.units[0], bytes});
    }
    return fixes;
}

SCodePageLayout Layout(const SCodePage& cp, const char* converter) {
    SCodePageLayout layout{cp.codePage, converter, {}, 0, cp.wideDefaultChar};
    std::copy(std::begin(cp.leadBytes), std::end(cp.leadBytes), layout.leadBytes);
    layout.defaultChar = cp.defaultChar[0];  // a one-byte default in every table code page
    return layout;
}

// How many single bytes and pairs ICU's converter reads differently from the reference: a
// cheap first measure to choose the few converters worth building whole.
size_t DecodeDistance(const SCodePage& cp, UConverter* converter) {
    size_t distance = 0;
    for (const auto& e : cp.decode) {
        if (DecodeKey(cp, e.bytes) < 0 || e.units.size() != 1) continue;
        ucnv_reset(converter);
        UChar units[4];
        UChar* target = units;
        const char* source = e.bytes.data();
        UErrorCode error = U_ZERO_ERROR;
        ucnv_toUnicode(converter, &target, units + 4, &source, source + e.bytes.size(), nullptr,
                       true, &error);
        if (U_FAILURE(error) || target - units != 1 || units[0] != e.units[0]) ++distance;
    }
    return distance;
}

std::vector<std::string> Candidates(const SCodePage& cp) {
    std::vector<std::pair<size_t, std::string>> scored;
    const int32_t count = ucnv_countAvailable();
    for (int32_t i = 0; i < count; ++i) {
        const char* name = ucnv_getAvailableName(i);
        UErrorCode error = U_ZERO_ERROR;
        UConverter* converter = ucnv_open(name, &error);
        if (U_FAILURE(error)) continue;
        const UConverterType type = ucnv_getType(converter);
        const int8_t maxBytes = ucnv_getMaxCharSize(converter);
        const bool fits = cp.maxCharSize == 1
                              ? (type == UCNV_SBCS || type == UCNV_US_ASCII || type == UCNV_LATIN_1)
                              : (type == UCNV_DBCS || type == UCNV_MBCS) && maxBytes >= 2;
        if (fits && std::string(name).find(',') == std::string::npos) {
            UErrorCode stop = U_ZERO_ERROR;
            ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                                &stop);
            scored.emplace_back(DecodeDistance(cp, converter), name);
        }
        ucnv_close(converter);
    }
    std::sort(scored.begin(), scored.end());
    std::vector<std::string> names;
    for (size_t i = 0; i < scored.size() && i < 3; ++i) names.push_back(scored[i].second);
    return names;
}

void WriteArray(std::ostream& out, const char* name, unsigned codePage,
                const std::vector<SFix>& fixes) {
    if (fixes.empty()) return;
    out << "constexpr std::uint16_t " << name << codePage << "[] = {";
    char buf[32];
    for (size_t i = 0; i < fixes.size(); ++i) {
        out << (i % 6 == 0 ? "\n   " : "");
        std::snprintf(buf, sizeof buf, " 0x%04X, 0x%04X,", fixes[i].key, fixes[i].value);
        out << buf;
    }
    out << "\n};\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: makefixes DUMP VERSION-FILE OUT\n");
        return 2;
    }
    const auto dumps = Tavrin::CodePageDump::Read(argv[1]);
    std::string version;
    std::getline(std::ifstream(argv[2]), version);

    std::ostringstream arrays;
    std::ostringstream entries;
    size_t total = 0;
    for (const SCodePage& cp : dumps) {
        if (cp.maxCharSize > 2) continue;  // UTF-7: converted by its own coder
        std::string best;
        SFixes bestFixes;
        for (const std::string& name : Candidates(cp)) {
            const auto table = CCodePageTable::FromIcu(Layout(cp, name.c_str()));
            if (table == nullptr) continue;
            SFixes fixes = Compare(cp, *table);
            if (best.empty() || fixes.Size() < bestFixes.Size()) {
                best = name;
                bestFixes = std::move(fixes);
            }
        }
        if (best.empty()) {
            std::fprintf(stderr, "%u: no ICU converter fits\n", cp.codePage);
            return 1;
        }
        std::fprintf(stderr, "%u: %s, %zu decode and %zu encode corrections\n", cp.codePage,
                     best.c_str(), bestFixes.decode.size(), bestFixes.encode.size());
        total += bestFixes.Size();
        WriteArray(arrays, "kDecodeFixes", cp.codePage, bestFixes.decode);
        WriteArray(arrays, "kEncodeFixes", cp.codePage, bestFixes.encode);

        char buf[64];
        entries << "    {{" << cp.codePage << ", \"" << best << "\", {";
        for (int i = 0; i < 12; ++i) {
            std::snprintf(buf, sizeof buf, "%s0x%02X", i ? ", " : "", cp.leadBytes[i]);
            entries << buf;
        }
        std::snprintf(buf, sizeof buf, "}, 0x%02X, 0x%04X},\n     ", cp.defaultChar[0],
                      static_cast<unsigned>(cp.wideDefaultChar));
        entries << buf;
        for (const char* kind : {"kDecodeFixes", "kEncodeFixes"}) {
            const auto& fixes = kind[1] == 'D' ? bestFixes.decode : bestFixes.encode;
            if (fixes.empty()) {
                entries << "{}, ";
            } else {
                entries << "{" << kind << cp.codePage << "}, ";
            }
        }
        entries << "},\n";
    }

    std::ofstream out(argv[3]);
    out << "// Generated by tools/codepages/make-fixes.sh from the reference dumps of " << version
        << ";\n// do not edit. For each table code page: the ICU converter its table starts from"
           " and the\n// corrections (key, value) that make the table Windows' own.\n\n"
        << arrays.str() << "\nconstexpr STableCodePage kTableCodePages[] = {\n"
        << entries.str() << "};\n";
    std::fprintf(stderr, "%zu corrections in all\n", total);
    return out ? 0 : 1;
}
