#include "codepages.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codepagetable.h"
#include "codepageutf7.h"
#include "widesink.h"

namespace Tavrin::Platform {
namespace {

using Detail::CCodePageTable;
using Detail::ELayoutKind;

// A code page converted through a table: its layout, and the corrections that turn what the
// ICU converter gives into what Windows gives.
struct STableCodePage {
    Detail::SCodePageLayout layout;
    std::span<const std::uint16_t> decodeFixes;  // byte or lead << 8 | trail, UTF-16 unit
    std::span<const std::uint16_t> encodeFixes;  // UTF-16 unit, byte or lead << 8 | trail
    bool sharedBestFit;                          // whether kSharedBestFit applies
};

#include "codepagefixes.inc"

constexpr bool TableIsSorted() {
    for (size_t i = 1; i < std::size(kTableCodePages); ++i) {
        if (kTableCodePages[i - 1].layout.codePage >= kTableCodePages[i].layout.codePage) {
            return false;
        }
    }
    return true;
}
static_assert(TableIsSorted(), "the table code pages are searched by halves");

// Calls `apply(key, value)` for every correction of runs written as (first key, first value,
// count with the top bit set when the values go up by one a key).
template <class F>
void ForEachFix(std::span<const std::uint16_t> runs, F apply) {
    for (size_t i = 0; i + 2 < runs.size(); i += 3) {
        const unsigned count = runs[i + 2] & 0x7FFFu;
        const unsigned step = runs[i + 2] >> 15;
        for (unsigned k = 0; k < count; ++k) {
            apply(static_cast<std::uint16_t>(runs[i] + k),
                  static_cast<std::uint16_t>(runs[i + 1] + k * step));
        }
    }
}

// The table of a table code page, built on first use and shared by every thread; null when the
// code page is converted otherwise (or its ICU converter is missing).
const CCodePageTable* TableFor(unsigned int codePage) {
    const auto it = std::lower_bound(
        std::begin(kTableCodePages), std::end(kTableCodePages), codePage,
        [](const STableCodePage& e, unsigned int cp) { return e.layout.codePage < cp; });
    if (it == std::end(kTableCodePages) || it->layout.codePage != codePage) return nullptr;
    const auto index = static_cast<size_t>(it - std::begin(kTableCodePages));
    static std::once_flag built[std::size(kTableCodePages)];
    static std::unique_ptr<CCodePageTable> tables[std::size(kTableCodePages)];
    std::call_once(built[index], [&] {
        const std::span<const std::uint16_t> bestFit =
            it->sharedBestFit ? std::span(kSharedBestFit) : std::span<const std::uint16_t>();
        auto table = CCodePageTable::FromIcu(it->layout, bestFit);
        if (table == nullptr) return;
        ForEachFix(it->decodeFixes, [&](std::uint16_t key, std::uint16_t value) {
            table->SetDecoded(key, static_cast<char16_t>(value));
        });
        ForEachFix(it->encodeFixes, [&](std::uint16_t key, std::uint16_t value) {
            table->SetEncoded(static_cast<char16_t>(key), value);
        });
        tables[index] = std::move(table);
    });
    return tables[index].get();
}

struct SCodePageName {
    unsigned int codePage;
    const char* converter;  // ICU's canonical converter name
};

// The other Windows code pages and the ICU converters that map them. Sorted by code page.
constexpr SCodePageName kCodePages[] = {
    {50220, "ISO_2022,locale=ja,version=0"},  // ISO 2022 Japanese
    {50225, "ISO_2022,locale=ko,version=0"},  // ISO 2022 Korean
    {50227, "ISO_2022,locale=zh,version=0"},  // ISO 2022 Simplified Chinese
    {51932, "euc-jp-2007"},                   // EUC Japanese
    {51949, "ibm-970_P110_P110-2006_U2"},     // EUC Korean
    {52936, "HZ"},                            // HZ-GB2312 Simplified Chinese
    {54936, "gb18030"},                       // GB 18030
};

constexpr bool IsSorted() {
    for (size_t i = 1; i < std::size(kCodePages); ++i) {
        if (kCodePages[i - 1].codePage >= kCodePages[i].codePage) return false;
    }
    return true;
}
static_assert(IsSorted(), "the code-page table is searched by halves");

const SCodePageName* Find(unsigned int codePage) noexcept {
    const auto it =
        std::lower_bound(std::begin(kCodePages), std::end(kCodePages), codePage,
                         [](const SCodePageName& e, unsigned int cp) { return e.codePage < cp; });
    return (it != std::end(kCodePages) && it->codePage == codePage) ? it : nullptr;
}

constexpr unsigned int kCodePageIso2022Jp = 50220;
constexpr unsigned int kCodePageUtf7 = 65000;

// Writes the substitution for every character that cannot be converted.
// A character beyond U+FFFF gets it twice, one for each of its UTF-16 units, as on Windows.
void SubstituteEveryCharacter(const void* /*context*/, UConverterFromUnicodeArgs* args,
                              const UChar* /*units*/, int32_t length, UChar32 /*codePoint*/,
                              UConverterCallbackReason reason, UErrorCode* error) {
    if (reason > UCNV_IRREGULAR) return;  // reset, close or clone: nothing to write
    *error = U_ZERO_ERROR;
    ucnv_cbFromUWriteSub(args, 0, error);
    if (length == 2 && U_SUCCESS(*error)) ucnv_cbFromUWriteSub(args, 0, error);
}

// Converters opened by this thread, closed when the thread ends. ucnv_open is far slower than
// a conversion of a short text, so each code page is opened once per thread.
class CConverterCache {
public:
    CConverterCache() = default;
    CConverterCache(const CConverterCache&) = delete;
    CConverterCache& operator=(const CConverterCache&) = delete;
    ~CConverterCache() {
        for (auto& entry : m_entries) {
            if (entry.converter != nullptr) ucnv_close(entry.converter);
        }
    }

    // The converter of `codePage`, reset to its initial state; null when there is none.
    UConverter* Get(unsigned int codePage) {
        for (auto& entry : m_entries) {
            if (entry.codePage == codePage) {
                if (entry.converter != nullptr) ucnv_reset(entry.converter);
                return entry.converter;
            }
        }
        m_entries.reserve(m_entries.size() + 1);  // so that the push below cannot throw
        UConverter* converter = Open(codePage);
        m_entries.push_back({codePage, converter});  // a failure is remembered too
        return converter;
    }

private:
    struct SEntry {
        unsigned int codePage;
        UConverter* converter;
    };

    static UConverter* Open(unsigned int codePage) {
        const SCodePageName* name = Find(codePage);
        if (name == nullptr) return nullptr;
        UErrorCode error = U_ZERO_ERROR;
        UConverter* converter = ucnv_open(name->converter, &error);
        if (U_FAILURE(error)) return nullptr;
        // An unmappable character becomes the code page's own question mark, as with the
        // Windows converters: 0x6F in EBCDIC, not ICU's default substitution byte. Given as
        // text, it is converted as any character is, so stateful code pages switch mode for
        // it. Replacing the substitution also makes ICU turn invalid input into U+FFFD.
        UErrorCode substError = U_ZERO_ERROR;
        static constexpr UChar kQuestionMark[] = {u'?'};
        ucnv_setSubstString(converter, kQuestionMark, 1, &substError);
        // ICU's own substitution callback drops unmappable characters that Unicode calls
        // ignorable by default (U+FEFF, U+200B, variation selectors, ...); they get "?" too.
        ucnv_setFromUCallBack(converter, SubstituteEveryCharacter, nullptr, nullptr, nullptr,
                              &substError);
        if (U_FAILURE(substError)) {
            ucnv_close(converter);
            return nullptr;
        }
        // ISO 2022 Japanese without half-width Katakana writes those as full-width Katakana.
        if (codePage == kCodePageIso2022Jp) ucnv_setFallback(converter, true);
        return converter;
    }

    std::vector<SEntry> m_entries;
};

UConverter* ConverterFor(unsigned int codePage) {
    thread_local CConverterCache cache;
    return cache.Get(codePage);
}

constexpr size_t kChunk = 1024;
constexpr unsigned int kCodePageHz = 52936;

// ICU's HZ converter writes the mode switches differently from the Windows one: "~}" before
// the first ASCII character although a text starts in ASCII mode (for an empty text or a lone
// "~" too), and no "~}" at the end of a text that ends in GB mode. Rewrites its output so that
// it holds a switch only where the mode changes and ends in ASCII mode. In GB mode the text
// is made of byte pairs, none of which starts with "~".
std::string RewriteHz(std::string_view in) {
    std::string out;
    out.reserve(in.size() + 2);
    bool gb = false;
    size_t i = 0;
    while (i < in.size()) {
        if (in[i] == '~' && i + 1 < in.size() && (in[i + 1] == '{' || in[i + 1] == '}')) {
            const bool toGb = in[i + 1] == '{';
            if (toGb != gb) out.append(in.substr(i, 2));
            gb = toGb;
            i += 2;
        } else if (gb || in[i] == '~') {
            // A GB pair, or an escaped "~" or line continuation in ASCII mode.
            out.append(in.substr(i, 2));
            i += 2;
        } else {
            out.push_back(in[i++]);
        }
    }
    if (gb) out.append("~}");
    return out;
}

}  // namespace

size_t CodePageToWide(unsigned int codePage, const char* text, size_t length, wchar_t* out,
                      size_t capacity) {
    if (text == nullptr) return kConversionFailed;
    if (const CCodePageTable* table = TableFor(codePage)) {
        return table->ToWide(reinterpret_cast<const unsigned char*>(text), length, out, capacity);
    }
    if (codePage == kCodePageUtf7) return Detail::Utf7ToWide(text, length, out, capacity);
    UConverter* converter = ConverterFor(codePage);
    if (converter == nullptr) return kConversionFailed;

    Detail::CWideSink sink(out, capacity);
    std::array<UChar, kChunk> units;
    const char* source = text;
    const char* const sourceEnd = text + length;
    for (;;) {
        UChar* target = units.data();
        UErrorCode error = U_ZERO_ERROR;
        ucnv_toUnicode(converter, &target, units.data() + units.size(), &source, sourceEnd, nullptr,
                       true, &error);
        for (const UChar* unit = units.data(); unit != target; ++unit) {
            if (!sink.Put(*unit)) return kConversionFailed;
        }
        if (error == U_BUFFER_OVERFLOW_ERROR) continue;
        if (U_FAILURE(error)) return kConversionFailed;
        break;
    }
    if (!sink.Finish()) return kConversionFailed;
    return sink.Count();
}

size_t WideToCodePage(unsigned int codePage, const wchar_t* text, size_t length, char* out,
                      size_t capacity) {
    if (text == nullptr) return kConversionFailed;
    if (const CCodePageTable* table = TableFor(codePage)) {
        return table->FromWide(text, length, out, capacity);
    }
    if (codePage == kCodePageUtf7) return Detail::WideToUtf7(text, length, out, capacity);
    UConverter* converter = ConverterFor(codePage);
    if (converter == nullptr) return kConversionFailed;

    size_t count = 0;
    // Counts the bytes or stores them after those already stored.
    auto put = [&](const char* bytes, size_t n) -> bool {
        if (out != nullptr) {
            if (n > capacity - count) return false;
            std::copy_n(bytes, n, out + count);
        }
        count += n;
        return true;
    };
    // HZ text is collected whole and rewritten before it is stored (see RewriteHz).
    const bool isHz = codePage == kCodePageHz;
    std::string hz;

    std::array<char, kChunk * 4> bytes;
    auto convert = [&](const UChar* source, const UChar* sourceEnd, bool flush) -> bool {
        for (;;) {
            char* target = bytes.data();
            UErrorCode error = U_ZERO_ERROR;
            ucnv_fromUnicode(converter, &target, bytes.data() + bytes.size(), &source, sourceEnd,
                             nullptr, flush, &error);
            if (U_FAILURE(error) && error != U_BUFFER_OVERFLOW_ERROR) return false;
            const auto produced = static_cast<size_t>(target - bytes.data());
            if (isHz) {
                hz.append(bytes.data(), produced);
            } else if (!put(bytes.data(), produced)) {
                return false;
            }
            if (error != U_BUFFER_OVERFLOW_ERROR) return true;
        }
    };

    std::array<UChar, kChunk> units;
    size_t next = 0;
    do {
        // The next chunk of input as UTF-16; a supplementary code point takes two units.
        size_t unitCount = 0;
        while (next < length && unitCount + 2 <= units.size()) {
            const auto c = static_cast<uint32_t>(text[next++]);
            if (c <= 0xFFFF) {
                units[unitCount++] = static_cast<UChar>(c);
            } else if (c <= 0x10FFFF) {
                units[unitCount++] = U16_LEAD(c);
                units[unitCount++] = U16_TRAIL(c);
            } else {
                units[unitCount++] = 0xFFFD;
            }
        }
        if (!convert(units.data(), units.data() + unitCount, next == length)) {
            return kConversionFailed;
        }
    } while (next < length);
    if (isHz) {
        const std::string rewritten = RewriteHz(hz);
        if (!put(rewritten.data(), rewritten.size())) return kConversionFailed;
    }
    return count;
}

}  // namespace Tavrin::Platform
