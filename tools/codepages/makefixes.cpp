// Generates core/platform/codepagefixes.inc from the reference dumps: for every single- and
// double-byte code page, the ICU converter whose tables come closest to Windows' and the
// corrections that make them equal (bytes read and characters written differently).
//
// usage: makefixes DUMP VERSION-FILE OUT
#include <unicode/ucnv.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
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

using Tavrin::Platform::Detail::ELayoutKind;

struct SCandidate {
    std::string converter;
    ELayoutKind kind = ELayoutKind::Icu;
};

// Code pages whose bytes differ from those of every ICU converter, and how.
struct SKnownLayout {
    unsigned codePage;
    const char* converter;
    ELayoutKind kind;
    const char* kindName;
};
constexpr SKnownLayout kKnownLayouts[] = {
    {1361, "windows-949-2000", ELayoutKind::Johab, "Johab"},
    {20932, "euc-jp-2007", ELayoutKind::EucJpX0212, "EucJpX0212"},
};

const char* KindName(ELayoutKind kind) {
    for (const auto& known : kKnownLayouts) {
        if (known.kind == kind) return known.kindName;
    }
    return "Icu";
}

// Code pages that Windows converts and Wine does not: their ICU converter (null: the sibling's)
// and a sibling whose layout they share; with `sameBytes` the sibling's corrections apply too
// (858 is 850 with the euro sign in place of the dotless i, 38598 the bytes of 28598).
struct SUnreferenced {
    unsigned codePage;
    const char* converter;
    unsigned like;
    bool sameBytes;
};
constexpr SUnreferenced kUnreferenced[] = {
    {858, "ibm-858_P100-1997", 850, true},   {870, "ibm-870_P100-1995", 37, false},
    {1047, "ibm-1047_P100-1995", 37, false}, {1140, "ibm-1140_P100-1997", 37, false},
    {1141, "ibm-1141_P100-1997", 37, false}, {1142, "ibm-1142_P100-1997", 37, false},
    {1143, "ibm-1143_P100-1997", 37, false}, {1144, "ibm-1144_P100-1997", 37, false},
    {1145, "ibm-1145_P100-1997", 37, false}, {1146, "ibm-1146_P100-1997", 37, false},
    {1147, "ibm-1147_P100-1997", 37, false}, {1148, "ibm-1148_P100-1997", 37, false},
    {1149, "ibm-1149_P100-1997", 37, false}, {20273, "ibm-273_P100-1995", 37, false},
    {20277, "ibm-277_P100-1995", 37, false}, {20278, "ibm-278_P100-1995", 37, false},
    {20280, "ibm-280_P100-1995", 37, false}, {20284, "ibm-284_P100-1995", 37, false},
    {20285, "ibm-285_P100-1995", 37, false}, {20290, "ibm-290_P100-1995", 37, false},
    {20297, "ibm-297_P100-1995", 37, false}, {20420, "ibm-420_X120-1999", 37, false},
    {20424, "ibm-424_P100-1995", 37, false}, {20838, "ibm-838_P100-1995", 37, false},
    {20871, "ibm-871_P100-1995", 37, false}, {21025, "ibm-1025_P100-1995", 37, false},
    {38598, nullptr, 28598, true},
};

SCodePageLayout Layout(const SCodePage& cp, const SCandidate& candidate) {
    SCodePageLayout layout{cp.codePage, candidate.converter.c_str(), candidate.kind, {},
                           0,           cp.wideDefaultChar};
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

std::vector<SCandidate> Candidates(const SCodePage& cp) {
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
    std::vector<SCandidate> candidates;
    for (const auto& known : kKnownLayouts) {
        if (known.codePage == cp.codePage) candidates.push_back({known.converter, known.kind});
    }
    for (size_t i = 0; i < scored.size() && i < 3; ++i) candidates.push_back({scored[i].second});
    return candidates;
}

// Writes the corrections as runs: (first key, first value, count | step), where the run covers
// `count` consecutive keys and its values go up by one a key when the top bit (step) is set, or
// stay the same.
size_t WriteArray(std::ostream& out, const char* name, unsigned codePage,
                  const std::vector<SFix>& fixes) {
    if (fixes.empty()) return 0;
    out << "constexpr std::uint16_t " << name << codePage << "[] = {";
    char buf[48];
    size_t runs = 0;
    for (size_t i = 0; i < fixes.size();) {
        size_t j = i + 1;
        unsigned step = 0;
        if (j < fixes.size() && fixes[j].key == fixes[i].key + 1 &&
            (fixes[j].value == fixes[i].value || fixes[j].value == fixes[i].value + 1)) {
            step = fixes[j].value - fixes[i].value;
            while (j < fixes.size() && j - i < 0x7FFF && fixes[j].key == fixes[j - 1].key + 1 &&
                   fixes[j].value == fixes[j - 1].value + step) {
                ++j;
            }
        }
        out << (runs % 4 == 0 ? "\n   " : "");
        std::snprintf(buf, sizeof buf, " 0x%04X, 0x%04X, 0x%04X,", fixes[i].key, fixes[i].value,
                      static_cast<unsigned>(j - i) | step << 15);
        out << buf;
        ++runs;
        i = j;
    }
    out << "\n};\n";
    return runs;
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

    // First each code page's converter, the one that needs the fewest corrections.
    struct SChoice {
        const SCodePage* cp;
        SCandidate candidate;
    };
    std::vector<SChoice> choices;
    for (const SCodePage& cp : dumps) {
        if (cp.maxCharSize > 2) continue;  // UTF-7: converted by its own coder
        SCandidate best;
        size_t bestSize = 0;
        for (const SCandidate& candidate : Candidates(cp)) {
            const auto table = CCodePageTable::FromIcu(Layout(cp, candidate), {});
            if (table == nullptr) continue;
            const size_t size = Compare(cp, *table).Size();
            if (best.converter.empty() || size < bestSize) {
                best = candidate;
                bestSize = size;
            }
        }
        if (best.converter.empty()) {
            std::fprintf(stderr, "%u: no ICU converter fits\n", cp.codePage);
            return 1;
        }
        choices.push_back({&cp, best});
    }

    // Then the best fit that many code pages share: for a unit that ICU cannot write, the
    // replacement whose bytes Windows writes for it in more of the code pages that take the
    // shared list than not. Which code pages take it and what it holds are settled together,
    // a few rounds one after the other.
    struct SState {
        std::unique_ptr<CCodePageTable> table;
        std::vector<bool> icuMapped;
        std::vector<int> windows;  // Windows' bytes a unit, -1 where unknown
        bool takesShared = true;
    };
    std::vector<SState> states;
    for (const SChoice& choice : choices) {
        SState& state = states.emplace_back();
        state.table =
            CCodePageTable::FromIcu(Layout(*choice.cp, choice.candidate), {}, &state.icuMapped);
        state.windows.assign(0x10000, -1);
        for (const auto& e : choice.cp->encode) {
            if (e.units.size() != 1 || e.bytes.empty() || e.bytes.size() > 2) continue;
            int bytes = static_cast<unsigned char>(e.bytes[0]);
            if (e.bytes.size() == 2) bytes = bytes << 8 | static_cast<unsigned char>(e.bytes[1]);
            state.windows[e.units[0]] = bytes;
        }
    }
    std::vector<std::uint16_t> shared;
    const std::vector<std::uint16_t> kNone;
    for (int round = 0; round < 4; ++round) {
        shared.clear();
        for (unsigned u = 0x80; u < 0x10000; ++u) {
            std::vector<std::pair<int, unsigned>> votes;  // (votes, replacement)
            for (const SState& state : states) {
                const int w = state.windows[u];
                if (!state.takesShared || state.icuMapped[u] || w < 0 ||
                    state.table->Encoded(static_cast<char16_t>(u)) == w) {
                    continue;
                }
                const char16_t c = state.table->Decoded(static_cast<std::uint16_t>(w));
                if (state.table->Encoded(c) != w || c == u) continue;
                auto it = std::find_if(votes.begin(), votes.end(),
                                       [&](const auto& v) { return v.second == c; });
                if (it == votes.end()) {
                    votes.push_back({1, c});
                } else {
                    ++it->first;
                }
            }
            if (votes.empty()) continue;
            const unsigned c = std::max_element(votes.begin(), votes.end())->second;
            int score = 0;
            for (const SState& state : states) {
                const int w = state.windows[u];
                if (!state.takesShared || state.icuMapped[u] || w < 0) continue;
                const bool before = state.table->Encoded(static_cast<char16_t>(u)) == w;
                const bool after = state.table->Encoded(static_cast<char16_t>(c)) == w;
                score += static_cast<int>(after) - static_cast<int>(before);
            }
            if (score > 0) {
                shared.push_back(static_cast<std::uint16_t>(u));
                shared.push_back(static_cast<std::uint16_t>(c));
            }
        }
        for (size_t k = 0; k < choices.size(); ++k) {
            const SCodePage& cp = *choices[k].cp;
            const auto layout = Layout(cp, choices[k].candidate);
            states[k].takesShared = Compare(cp, *CCodePageTable::FromIcu(layout, shared)).Size() <
                                    Compare(cp, *states[k].table).Size();
        }
    }

    std::ostringstream arrays;
    std::map<unsigned, std::string> entries;  // by code page
    // One entry of kTableCodePages: the layout, the names of the correction arrays (code page
    // `fixesOf`, empty ones left out) and whether the shared best fit applies.
    auto entry = [&](unsigned codePage, const SCodePage& cp, const SCandidate& candidate,
                     unsigned fixesOf, const SFixes& fixes, bool takesShared) {
        std::ostringstream e;
        char buf[64];
        e << "    {{" << codePage << ", \"" << candidate.converter
          << "\", ELayoutKind::" << KindName(candidate.kind) << ",\n      {";
        for (int i = 0; i < 12; ++i) {
            std::snprintf(buf, sizeof buf, "%s0x%02X", i ? ", " : "", cp.leadBytes[i]);
            e << buf;
        }
        std::snprintf(buf, sizeof buf, "}, 0x%02X, 0x%04X},\n     ", cp.defaultChar[0],
                      static_cast<unsigned>(cp.wideDefaultChar));
        e << buf;
        for (const char* kind : {"kDecodeFixes", "kEncodeFixes"}) {
            const auto& list = kind[1] == 'D' ? fixes.decode : fixes.encode;
            if (list.empty()) {
                e << "{}, ";
            } else {
                e << "{" << kind << fixesOf << "}, ";
            }
        }
        e << (takesShared ? "true" : "false") << "},\n";
        entries[codePage] = e.str();
    };

    size_t total = 0;
    size_t runs = 0;
    std::map<unsigned, std::pair<const SChoice*, SFixes>> referenced;
    for (const SChoice& choice : choices) {
        const SCodePage& cp = *choice.cp;
        const SCandidate& best = choice.candidate;
        const bool takesShared = states[static_cast<size_t>(&choice - choices.data())].takesShared;
        SFixes fixes =
            Compare(cp, *CCodePageTable::FromIcu(Layout(cp, best), takesShared ? shared : kNone));
        std::fprintf(stderr, "%u: %s%s, %zu decode and %zu encode corrections\n", cp.codePage,
                     best.converter.c_str(), takesShared ? " and shared best fit" : "",
                     fixes.decode.size(), fixes.encode.size());
        total += fixes.Size();
        runs += WriteArray(arrays, "kDecodeFixes", cp.codePage, fixes.decode);
        runs += WriteArray(arrays, "kEncodeFixes", cp.codePage, fixes.encode);
        entry(cp.codePage, cp, best, cp.codePage, fixes, takesShared);
        referenced[cp.codePage] = {&choice, std::move(fixes)};
    }
    // Code pages Wine does not convert take the layout of a sibling that it does, and with
    // `sameBytes` its corrections too.
    for (const SUnreferenced& u : kUnreferenced) {
        const auto it = referenced.find(u.like);
        if (it == referenced.end()) {
            std::fprintf(stderr, "%u: no reference for %u\n", u.codePage, u.like);
            return 1;
        }
        const SChoice& like = *it->second.first;
        const bool takesShared = states[static_cast<size_t>(&like - choices.data())].takesShared;
        SCandidate candidate{u.converter != nullptr ? u.converter : like.candidate.converter};
        entry(u.codePage, *like.cp, candidate, u.like, u.sameBytes ? it->second.second : SFixes{},
              takesShared);
    }

    std::string allEntries;
    for (const auto& [codePage, text] : entries) allEntries += text;
    std::ofstream out(argv[3]);
    out << "// Generated by tools/codepages/make-fixes.sh from the reference dumps of " << version
        << "\n// and ICU " << U_ICU_VERSION
        << ";\n"
           "// do not edit. For each table code page: the ICU converter its table starts from and\n"
           "// the corrections that make the table Windows' own, in runs of (first key, first\n"
           "// value, count, with the top bit set when the values go up by one).\n\n"
           "// Best fit that many code pages share: (unit, replacement) pairs, for a unit\n"
           "// that the ICU converter does not write, in the code pages that take it.\n"
           "constexpr std::uint16_t kSharedBestFit[] = {";
    for (size_t i = 0; i < shared.size(); i += 2) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%s 0x%04X, 0x%04X,", i % 12 == 0 ? "\n   " : "", shared[i],
                      shared[i + 1]);
        out << buf;
    }
    out << "\n};\n\n"
        << arrays.str() << "\nconstexpr STableCodePage kTableCodePages[] = {\n"
        << allEntries << "};\n";
    std::fprintf(stderr, "%zu corrections in all, in %zu runs; %zu shared best-fit entries\n",
                 total, runs, shared.size() / 2);
    return out ? 0 : 1;
}
