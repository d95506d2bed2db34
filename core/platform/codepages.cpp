#include "codepages.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Tavrin::Platform {
namespace {

struct SCodePageName {
    unsigned int codePage;
    const char* converter;  // ICU's canonical converter name
};

// Windows code pages and the ICU converters that map them. Sorted by code page.
constexpr SCodePageName kCodePages[] = {
    {37, "ibm-37_P100-1995"},            // EBCDIC US-Canada
    {437, "ibm-437_P100-1995"},          // OEM United States
    {500, "ibm-500_P100-1995"},          // EBCDIC International
    {720, "ibm-720_P100-1997"},          // Arabic (DOS)
    {737, "ibm-737_P100-1997"},          // Greek (DOS)
    {775, "ibm-775_P100-1996"},          // Baltic (DOS)
    {850, "ibm-850_P100-1995"},          // Western European (DOS)
    {852, "ibm-852_P100-1995"},          // Central European (DOS)
    {855, "ibm-855_P100-1995"},          // Cyrillic (DOS)
    {857, "ibm-857_P100-1995"},          // Turkish (DOS)
    {858, "ibm-858_P100-1997"},          // Western European with euro (DOS)
    {860, "ibm-860_P100-1995"},          // Portuguese (DOS)
    {861, "ibm-861_P100-1995"},          // Icelandic (DOS)
    {862, "ibm-862_P100-1995"},          // Hebrew (DOS)
    {863, "ibm-863_P100-1995"},          // French Canadian (DOS)
    {864, "ibm-864_X110-1999"},          // Arabic (864)
    {865, "ibm-865_P100-1995"},          // Nordic (DOS)
    {866, "ibm-866_P100-1995"},          // Cyrillic (DOS, Russian)
    {869, "ibm-869_P100-1995"},          // Modern Greek (DOS)
    {870, "ibm-870_P100-1995"},          // EBCDIC Multilingual Latin 2
    {874, "windows-874-2000"},           // Thai
    {875, "ibm-875_P100-1995"},          // EBCDIC Greek
    {932, "ibm-943_P15A-2003"},          // Japanese Shift-JIS
    {936, "windows-936-2000"},           // Simplified Chinese GBK
    {949, "windows-949-2000"},           // Korean
    {950, "windows-950-2000"},           // Traditional Chinese Big5
    {1026, "ibm-1026_P100-1995"},        // EBCDIC Turkish
    {1047, "ibm-1047_P100-1995"},        // EBCDIC Latin 1
    {1140, "ibm-1140_P100-1997"},        // EBCDIC US-Canada with euro
    {1141, "ibm-1141_P100-1997"},        // EBCDIC Germany with euro
    {1142, "ibm-1142_P100-1997"},        // EBCDIC Denmark-Norway with euro
    {1143, "ibm-1143_P100-1997"},        // EBCDIC Finland-Sweden with euro
    {1144, "ibm-1144_P100-1997"},        // EBCDIC Italy with euro
    {1145, "ibm-1145_P100-1997"},        // EBCDIC Latin America-Spain with euro
    {1146, "ibm-1146_P100-1997"},        // EBCDIC United Kingdom with euro
    {1147, "ibm-1147_P100-1997"},        // EBCDIC France with euro
    {1148, "ibm-1148_P100-1997"},        // EBCDIC International with euro
    {1149, "ibm-1149_P100-1997"},        // EBCDIC Icelandic with euro
    {1250, "ibm-5346_P100-1998"},        // Central European
    {1251, "ibm-5347_P100-1998"},        // Cyrillic
    {1252, "ibm-5348_P100-1997"},        // Western European
    {1253, "ibm-5349_P100-1998"},        // Greek
    {1254, "ibm-5350_P100-1998"},        // Turkish
    {1255, "ibm-9447_P100-2002"},        // Hebrew
    {1256, "ibm-9448_X100-2005"},        // Arabic
    {1257, "ibm-9449_P100-2002"},        // Baltic
    {1258, "ibm-5354_P100-1998"},        // Vietnamese
    {10000, "macos-0_2-10.2"},           // Mac Roman
    {10006, "macos-6_2-10.4"},           // Mac Greek
    {10007, "macos-7_3-10.2"},           // Mac Cyrillic
    {10029, "macos-29-10.2"},            // Mac Central European
    {10081, "macos-35-10.2"},            // Mac Turkish
    {20127, "US-ASCII"},                 // US-ASCII
    {20273, "ibm-273_P100-1995"},        // EBCDIC Germany
    {20277, "ibm-277_P100-1995"},        // EBCDIC Denmark-Norway
    {20278, "ibm-278_P100-1995"},        // EBCDIC Finland-Sweden
    {20280, "ibm-280_P100-1995"},        // EBCDIC Italy
    {20284, "ibm-284_P100-1995"},        // EBCDIC Latin America-Spain
    {20285, "ibm-285_P100-1995"},        // EBCDIC United Kingdom
    {20290, "ibm-290_P100-1995"},        // EBCDIC Japanese Katakana Extended
    {20297, "ibm-297_P100-1995"},        // EBCDIC France
    {20420, "ibm-420_X120-1999"},        // EBCDIC Arabic
    {20424, "ibm-424_P100-1995"},        // EBCDIC Hebrew
    {20838, "ibm-838_P100-1995"},        // EBCDIC Thai
    {20866, "ibm-878_P100-1996"},        // KOI8-R
    {20871, "ibm-871_P100-1995"},        // EBCDIC Icelandic
    {21025, "ibm-1025_P100-1995"},       // EBCDIC Cyrillic Serbian-Bulgarian
    {21866, "ibm-1168_P100-2002"},       // KOI8-U
    {28591, "ISO-8859-1"},               // ISO 8859-1 Latin 1
    {28592, "ibm-912_P100-1995"},        // ISO 8859-2 Central European
    {28593, "ibm-913_P100-2000"},        // ISO 8859-3 Latin 3
    {28594, "ibm-914_P100-1995"},        // ISO 8859-4 Baltic
    {28595, "ibm-915_P100-1995"},        // ISO 8859-5 Cyrillic
    {28596, "ibm-1089_P100-1995"},       // ISO 8859-6 Arabic
    {28597, "ibm-9005_X110-2007"},       // ISO 8859-7 Greek
    {28598, "ibm-5012_P100-1999"},       // ISO 8859-8 Hebrew, visual
    {28599, "ibm-920_P100-1995"},        // ISO 8859-9 Turkish
    {28603, "ibm-921_P100-1995"},        // ISO 8859-13 Estonian
    {28605, "ibm-923_P100-1998"},        // ISO 8859-15 Latin 9
    {38598, "ibm-5012_P100-1999"},       // ISO 8859-8 Hebrew, logical (same bytes)
    {50220, "ISO_2022,locale=ja,version=0"},  // ISO 2022 Japanese
    {50225, "ISO_2022,locale=ko,version=0"},  // ISO 2022 Korean
    {50227, "ISO_2022,locale=zh,version=0"},  // ISO 2022 Simplified Chinese
    {51932, "euc-jp-2007"},              // EUC Japanese
    {51949, "ibm-970_P110_P110-2006_U2"},  // EUC Korean
    {52936, "HZ"},                       // HZ-GB2312 Simplified Chinese
    {54936, "gb18030"},                  // GB 18030
    {65000, "UTF-7"},                    // UTF-7
};

constexpr bool IsSorted() {
    for (size_t i = 1; i < std::size(kCodePages); ++i) {
        if (kCodePages[i - 1].codePage >= kCodePages[i].codePage) return false;
    }
    return true;
}
static_assert(IsSorted(), "the code-page table is searched by halves");

const SCodePageName* Find(unsigned int codePage) noexcept {
    const auto it = std::lower_bound(
        std::begin(kCodePages), std::end(kCodePages), codePage,
        [](const SCodePageName& e, unsigned int cp) { return e.codePage < cp; });
    return (it != std::end(kCodePages) && it->codePage == codePage) ? it : nullptr;
}

constexpr unsigned int kCodePageIso2022Jp = 50220;

// Writes the substitution for every character that cannot be converted.
void SubstituteEveryCharacter(const void* /*context*/, UConverterFromUnicodeArgs* args,
                              const UChar* /*units*/, int32_t /*length*/, UChar32 /*codePoint*/,
                              UConverterCallbackReason reason, UErrorCode* error) {
    if (reason > UCNV_IRREGULAR) return;  // reset, close or clone: nothing to write
    *error = U_ZERO_ERROR;
    ucnv_cbFromUWriteSub(args, 0, error);
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

// Appends code points to `out` (or only counts them), pairing UTF-16 surrogates that may be
// split across the chunks ICU produces; an unpaired surrogate becomes U+FFFD.
class CWideSink {
public:
    CWideSink(wchar_t* out, size_t capacity) : m_out(out), m_capacity(capacity) {}

    bool Put(const UChar* units, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const UChar u = units[i];
            if (m_lead != 0) {
                const UChar lead = m_lead;
                m_lead = 0;
                if (U16_IS_TRAIL(u)) {
                    if (!Emit(U16_GET_SUPPLEMENTARY(lead, u))) return false;
                    continue;
                }
                if (!Emit(0xFFFD)) return false;
            }
            if (U16_IS_LEAD(u)) {
                m_lead = u;
            } else if (!Emit(U16_IS_TRAIL(u) ? 0xFFFD : u)) {
                return false;
            }
        }
        return true;
    }

    bool Finish() {
        if (m_lead == 0) return true;
        m_lead = 0;
        return Emit(0xFFFD);
    }

    size_t Count() const { return m_count; }

private:
    bool Emit(UChar32 c) {
        if (m_out != nullptr) {
            if (m_count == m_capacity) return false;
            m_out[m_count] = static_cast<wchar_t>(c);
        }
        ++m_count;
        return true;
    }

    wchar_t* m_out;
    size_t m_capacity;
    size_t m_count = 0;
    UChar m_lead = 0;
};

}  // namespace

size_t CodePageToWide(unsigned int codePage, const char* text, size_t length, wchar_t* out,
                      size_t capacity) {
    if (text == nullptr) return kConversionFailed;
    UConverter* converter = ConverterFor(codePage);
    if (converter == nullptr) return kConversionFailed;

    CWideSink sink(out, capacity);
    std::array<UChar, kChunk> units;
    const char* source = text;
    const char* const sourceEnd = text + length;
    for (;;) {
        UChar* target = units.data();
        UErrorCode error = U_ZERO_ERROR;
        ucnv_toUnicode(converter, &target, units.data() + units.size(), &source, sourceEnd,
                       nullptr, true, &error);
        if (!sink.Put(units.data(), static_cast<size_t>(target - units.data()))) {
            return kConversionFailed;
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
