#include "codepages.h"

#include <unicode/ucnv.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <array>
#include <cstdint>
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
    {874, "windows-874-2000"},           // Thai
    {875, "ibm-875_P100-1995"},          // EBCDIC Greek
    {932, "ibm-943_P15A-2003"},          // Japanese Shift-JIS
    {936, "windows-936-2000"},           // Simplified Chinese GBK
    {949, "windows-949-2000"},           // Korean
    {950, "windows-950-2000"},           // Traditional Chinese Big5
    {1026, "ibm-1026_P100-1995"},        // EBCDIC Turkish
    {1047, "ibm-1047_P100-1995"},        // EBCDIC Latin 1
    {1140, "ibm-1140_P100-1997"},        // EBCDIC US-Canada with euro
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
    {20420, "ibm-420_X120-1999"},        // EBCDIC Arabic
    {20424, "ibm-424_P100-1995"},        // EBCDIC Hebrew
    {20866, "ibm-878_P100-1996"},        // KOI8-R
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

const SCodePageName* Find(unsigned int codePage) noexcept {
    const auto it = std::lower_bound(
        std::begin(kCodePages), std::end(kCodePages), codePage,
        [](const SCodePageName& e, unsigned int cp) { return e.codePage < cp; });
    return (it != std::end(kCodePages) && it->codePage == codePage) ? it : nullptr;
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
        // Unmappable characters become "?" in every code page, as the Windows converters
        // do; with a one-byte substitution ICU also turns invalid input into U+FFFD.
        UErrorCode substError = U_ZERO_ERROR;
        ucnv_setSubstChars(converter, "?", 1, &substError);
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
    std::array<char, kChunk * 4> bytes;
    // Converts [source, sourceEnd) and counts or stores the bytes, all but `drop` final ones.
    auto convert = [&](const UChar* source, const UChar* sourceEnd, bool flush,
                       size_t drop) -> bool {
        for (;;) {
            char* target = bytes.data();
            UErrorCode error = U_ZERO_ERROR;
            ucnv_fromUnicode(converter, &target, bytes.data() + bytes.size(), &source, sourceEnd,
                             nullptr, flush, &error);
            if (U_FAILURE(error) && error != U_BUFFER_OVERFLOW_ERROR) return false;
            auto produced = static_cast<size_t>(target - bytes.data());
            if (error != U_BUFFER_OVERFLOW_ERROR) produced -= std::min(drop, produced);
            if (out != nullptr) {
                if (produced > capacity - count) return false;
                std::copy_n(bytes.data(), produced, out + count);
            }
            count += produced;
            if (error != U_BUFFER_OVERFLOW_ERROR) return true;
        }
    };

    // ICU's HZ converter does not leave GB mode when the text ends there; converting a NUL
    // after the text makes it write the "~}" that does, and the NUL itself is dropped.
    const bool closeWithNul = codePage == kCodePageHz;
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
        const bool flush = next == length && !closeWithNul;
        if (!convert(units.data(), units.data() + unitCount, flush, 0)) return kConversionFailed;
    } while (next < length);
    if (closeWithNul) {
        const UChar nul = 0;
        if (!convert(&nul, &nul + 1, true, 1)) return kConversionFailed;
    }
    return count;
}

}  // namespace Tavrin::Platform
