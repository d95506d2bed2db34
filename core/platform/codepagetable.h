// Table-driven conversion for the single- and double-byte code pages: every byte and lead/trail
// pair to one UTF-16 unit, every UTF-16 unit to one or two bytes. A table starts from an ICU
// converter and takes corrections on top, so that it holds Windows' own mappings, best fit
// included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct UConverter;

namespace Tavrin::Platform::Detail {

// How the bytes of a table code page relate to those of its ICU converter.
enum class ELayoutKind : unsigned char {
    Icu,         // the same bytes
    EucJpX0212,  // EUC-JP with JIS X 0212 as a lead byte and a trail byte below 0x80 instead
                 // of 0x8F and two bytes
    Johab,       // Korean Johab: Hangul composed from its letters, other characters moved
                 // from their Wansung (949) rows
};

// What a table code page is made of besides its mappings.
struct SCodePageLayout {
    unsigned int codePage;
    const char* converter;  // ICU converter the table starts from
    ELayoutKind kind;
    unsigned char leadBytes[12];  // inclusive ranges of lead bytes, pairs ending at a 0
    std::uint16_t defaultChar;    // written for a character without a mapping
    char16_t wideDefaultChar;     // read for a lead byte without a usable trail byte
};

class CCodePageTable {
public:
    // Builds the table from the layout's ICU converter: exact and fallback mappings. A unit
    // ICU cannot write that `bestFit` lists, as (unit, replacement) pairs, is written as its
    // replacement is; the rest get the default characters. `icuMapped`, when given, receives
    // for each unit whether ICU writes it. Null when ICU has no such converter.
    static std::unique_ptr<CCodePageTable> FromIcu(const SCodePageLayout& layout,
                                                   std::span<const std::uint16_t> bestFit,
                                                   std::vector<bool>* icuMapped = nullptr);

    bool IsDoubleByte() const noexcept { return m_doubleByte; }
    bool IsLeadByte(unsigned char b) const noexcept { return m_leadIndex[b] != 0; }

    // A key is a single byte, or lead << 8 | trail for a pair.
    char16_t Decoded(std::uint16_t key) const noexcept;
    void SetDecoded(std::uint16_t key, char16_t unit) noexcept;
    // Bytes of a unit: one byte, or lead << 8 | trail in a double-byte code page.
    std::uint16_t Encoded(char16_t unit) const noexcept { return m_encode[unit]; }
    void SetEncoded(char16_t unit, std::uint16_t bytes) noexcept { m_encode[unit] = bytes; }

    // The conversions, as CodePageToWide and WideToCodePage do them: with `out` null they only
    // count; kConversionFailed when `capacity` is too small.
    size_t ToWide(const unsigned char* text, size_t length, wchar_t* out, size_t capacity) const;
    size_t FromWide(const wchar_t* text, size_t length, char* out, size_t capacity) const;

private:
    explicit CCodePageTable(const SCodePageLayout& layout);
    size_t Width(std::uint16_t bytes) const noexcept {
        return m_doubleByte && bytes > 0xFF ? 2 : 1;
    }
    // Sets the bytes of every unit ICU writes, and marks those units in `mapped`.
    void EncodeAsIcu(UConverter* converter, std::vector<bool>& mapped);

    bool m_doubleByte = false;
    char16_t m_wideDefault;
    char16_t m_single[256] = {};
    unsigned char m_leadIndex[256] = {};  // 1 + the lead's row in m_pairs, 0 for other bytes
    std::vector<char16_t> m_pairs;        // 256 units a lead byte
    std::vector<std::uint16_t> m_encode;  // one entry a UTF-16 unit
};

}  // namespace Tavrin::Platform::Detail
