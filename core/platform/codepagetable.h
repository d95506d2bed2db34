// Table-driven conversion for the single- and double-byte code pages: every byte and lead/trail
// pair to one UTF-16 unit, every UTF-16 unit to one or two bytes. A table starts from an ICU
// converter and takes corrections on top, so that it holds Windows' own mappings, best fit
// included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace Tavrin::Platform::Detail {

// What a table code page is made of besides its mappings.
struct SCodePageLayout {
    unsigned int codePage;
    const char* converter;           // ICU converter the table starts from
    unsigned char leadBytes[12];     // inclusive ranges of lead bytes, pairs ending at a 0
    std::uint16_t defaultChar;       // written for a character without a mapping
    char16_t wideDefaultChar;        // read for a lead byte without a usable trail byte
};

class CCodePageTable {
public:
    // Builds the table from the layout's ICU converter: exact and fallback mappings; what ICU
    // cannot map gets the default characters. Null when ICU has no such converter.
    static std::unique_ptr<CCodePageTable> FromIcu(const SCodePageLayout& layout);

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

    bool m_doubleByte = false;
    char16_t m_wideDefault;
    char16_t m_single[256] = {};
    unsigned char m_leadIndex[256] = {};  // 1 + the lead's row in m_pairs, 0 for other bytes
    std::vector<char16_t> m_pairs;        // 256 units a lead byte
    std::vector<std::uint16_t> m_encode;  // one entry a UTF-16 unit
};

}  // namespace Tavrin::Platform::Detail
