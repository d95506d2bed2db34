#include "codepagetable.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/uset.h>

#include "codepages.h"

namespace Tavrin::Platform::Detail {
namespace {

struct SConverterCloser {
    void operator()(UConverter* converter) const noexcept { ucnv_close(converter); }
};
using UConverterPtr = std::unique_ptr<UConverter, SConverterCloser>;

struct SSetCloser {
    void operator()(USet* set) const noexcept { uset_close(set); }
};

// The one UTF-16 unit that ICU reads for `bytes` as a whole; -1 when it reads none, several,
// or stops at an invalid or unmapped sequence.
int32_t IcuDecodeOne(UConverter* converter, const char* bytes, int32_t length) {
    ucnv_reset(converter);
    UChar units[4];
    UChar* target = units;
    const char* source = bytes;
    UErrorCode error = U_ZERO_ERROR;
    ucnv_toUnicode(converter, &target, units + 4, &source, bytes + length, nullptr, true, &error);
    if (U_FAILURE(error) || target - units != 1 || source != bytes + length) return -1;
    return units[0];
}

// The bytes ICU writes for one UTF-16 unit (fallbacks included), as one byte or lead << 8 |
// trail; -1 when it has no mapping or writes something longer.
int32_t IcuEncodeOne(UConverter* converter, UChar unit, bool doubleByte) {
    ucnv_reset(converter);
    char bytes[8];
    char* target = bytes;
    const UChar* source = &unit;
    UErrorCode error = U_ZERO_ERROR;
    ucnv_fromUnicode(converter, &target, bytes + 8, &source, source + 1, nullptr, true, &error);
    if (U_FAILURE(error)) return -1;
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    if (target - bytes == 1) return b0;
    if (target - bytes == 2 && doubleByte && b0 > 0xFF / 2) {
        return b0 << 8 | static_cast<unsigned char>(bytes[1]);
    }
    return -1;
}

// Johab Hangul: a 15-bit code of initial, medial and final letter numbers; the syllable when
// all three are valid ones (the rows of Windows' tables for letters alone are corrections).
int32_t JohabHangul(unsigned code) {
    static constexpr int kInitial[32] = {-1, -1, 0,  1,  2,  3,  4,  5,  6,  7,  8,
                                         9,  10, 11, 12, 13, 14, 15, 16, 17, 18, -1};
    static constexpr int kMedial[32] = {-1, -1, -1, 0,  1,  2,  3,  4,  -1, -1, 5,
                                        6,  7,  8,  9,  10, -1, -1, 11, 12, 13, 14,
                                        15, 16, -1, -1, 17, 18, 19, 20, -1, -1};
    static constexpr int kFinal[32] = {-1, 0,  1,  2,  3,  4,  5,  6,  7,  8,  9,
                                       10, 11, 12, 13, 14, 15, 16, -1, 17, 18, 19,
                                       20, 21, 22, 23, 24, 25, 26, 27, -1, -1};
    const int initial = kInitial[code >> 10 & 31];
    const int medial = kMedial[code >> 5 & 31];
    const int final = kFinal[code & 31];
    if (initial < 0 || medial < 0 || final < 0) return -1;
    return 0xAC00 + (initial * 21 + medial) * 28 + final;
}

// The unit ICU reads for a pair of the table code page, through the converter's own bytes.
int32_t DecodePair(ELayoutKind kind, UConverter* converter, unsigned lead, unsigned trail) {
    const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    switch (kind) {
        case ELayoutKind::Icu: break;
        case ELayoutKind::EucJpX0212:
            if (trail < 0x80) {
                if (trail < 0x21 || trail > 0x7E) return -1;
                const char triple[3] = {static_cast<char>(0x8F), static_cast<char>(lead),
                                        static_cast<char>(trail | 0x80)};
                return IcuDecodeOne(converter, triple, 3);
            }
            break;
        case ELayoutKind::Johab: {
            if (lead >= 0x84 && lead <= 0xD3) return JohabHangul((lead & 0x7F) << 8 | trail);
            // Symbols (leads 0xD9-0xDE) and Hanja (0xE0-0xF9): each lead holds two Wansung
            // rows, the first on trails 0x31-0x7E and 0x91-0xA0, the second on 0xA1-0xFE.
            unsigned row = 0;
            if (lead >= 0xD9 && lead <= 0xDE) {
                row = 0xA1 + (lead - 0xD9) * 2;
            } else if (lead >= 0xE0 && lead <= 0xF9) {
                row = 0xCA + (lead - 0xE0) * 2;
            } else {
                return -1;
            }
            unsigned column = 0;
            if (trail >= 0x31 && trail <= 0x7E) {
                column = trail - 0x31 + 0xA1;
            } else if (trail >= 0x91 && trail <= 0xA0) {
                column = trail - 0x91 + 0xA1 + 78;
            } else if (trail >= 0xA1 && trail <= 0xFE) {
                ++row;
                column = trail;
            } else {
                return -1;
            }
            const char wansung[2] = {static_cast<char>(row), static_cast<char>(column)};
            return IcuDecodeOne(converter, wansung, 2);
        }
    }
    return IcuDecodeOne(converter, pair, 2);
}

}  // namespace

CCodePageTable::CCodePageTable(const SCodePageLayout& layout)
    : m_wideDefault(layout.wideDefaultChar), m_encode(0x10000, layout.defaultChar) {
    unsigned rows = 0;
    for (int i = 0; i + 1 < 12 && layout.leadBytes[i] != 0; i += 2) {
        for (unsigned b = layout.leadBytes[i]; b <= layout.leadBytes[i + 1]; ++b) {
            m_leadIndex[b] = static_cast<unsigned char>(++rows);
        }
    }
    m_doubleByte = rows != 0;
    m_pairs.assign(static_cast<size_t>(rows) * 256, m_wideDefault);
    for (auto& unit : m_single) unit = m_wideDefault;
}

std::unique_ptr<CCodePageTable> CCodePageTable::FromIcu(const SCodePageLayout& layout,
                                                        std::span<const std::uint16_t> bestFit,
                                                        std::vector<bool>* icuMapped) {
    UErrorCode error = U_ZERO_ERROR;
    UConverterPtr converter(ucnv_open(layout.converter, &error));
    if (U_FAILURE(error)) return nullptr;
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &error);
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                          &error);
    if (U_FAILURE(error)) return nullptr;
    ucnv_setFallback(converter.get(), true);

    std::unique_ptr<CCodePageTable> table(new CCodePageTable(layout));
    // With bytes other than the converter's, the characters are written as they are read
    // (the first bytes read as a character win); otherwise as ICU writes them, below.
    std::vector<bool> mapped(0x10000, false);
    const bool invert = layout.kind != ELayoutKind::Icu;
    auto readAs = [&](uint16_t bytes, int32_t unit) {
        if (!invert || unit < 0 || mapped[static_cast<size_t>(unit)]) return;
        table->m_encode[static_cast<size_t>(unit)] = bytes;
        mapped[static_cast<size_t>(unit)] = true;
    };
    for (unsigned b = 0; b < 256; ++b) {
        const char bytes[2] = {static_cast<char>(b), static_cast<char>(0)};
        if (table->m_leadIndex[b] == 0) {
            const int32_t unit = IcuDecodeOne(converter.get(), bytes, 1);
            if (unit >= 0) table->m_single[b] = static_cast<char16_t>(unit);
            readAs(static_cast<uint16_t>(b), unit);
            continue;
        }
        char16_t* row = &table->m_pairs[static_cast<size_t>(table->m_leadIndex[b] - 1u) * 256];
        for (unsigned t = 1; t < 256; ++t) {
            const int32_t unit = DecodePair(layout.kind, converter.get(), b, t);
            if (unit >= 0) row[t] = static_cast<char16_t>(unit);
            readAs(static_cast<uint16_t>(b << 8 | t), unit);
        }
    }
    if (!invert) table->EncodeAsIcu(converter.get(), mapped);
    for (size_t i = 0; i + 1 < bestFit.size(); i += 2) {
        if (!mapped[bestFit[i]]) table->m_encode[bestFit[i]] = table->m_encode[bestFit[i + 1]];
    }
    if (icuMapped != nullptr) *icuMapped = std::move(mapped);
    return table;
}

void CCodePageTable::EncodeAsIcu(UConverter* converter, std::vector<bool>& mapped) {
    UErrorCode error = U_ZERO_ERROR;

    // Only the characters ICU can write are tried; the others keep the default character.
    std::unique_ptr<USet, SSetCloser> set(uset_openEmpty());
    ucnv_getUnicodeSet(converter, set.get(), UCNV_ROUNDTRIP_AND_FALLBACK_SET, &error);
    if (U_FAILURE(error)) {
        error = U_ZERO_ERROR;
        uset_clear(set.get());
        uset_addRange(set.get(), 0, 0xFFFF);
    }
    const int32_t ranges = uset_getItemCount(set.get());
    for (int32_t r = 0; r < ranges; ++r) {
        UChar32 first = 0;
        UChar32 last = 0;
        if (uset_getItem(set.get(), r, &first, &last, nullptr, 0, &error) != 0) continue;
        for (UChar32 c = first; c <= last && c <= 0xFFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;
            const int32_t bytes = IcuEncodeOne(converter, static_cast<UChar>(c), m_doubleByte);
            if (bytes >= 0) {
                m_encode[static_cast<size_t>(c)] = static_cast<uint16_t>(bytes);
                mapped[static_cast<size_t>(c)] = true;
            }
        }
    }
}

char16_t CCodePageTable::Decoded(std::uint16_t key) const noexcept {
    if (key <= 0xFF) return m_single[key];
    const unsigned row = m_leadIndex[key >> 8];
    return row == 0 ? m_wideDefault : m_pairs[(row - 1) * 256 + (key & 0xFF)];
}

void CCodePageTable::SetDecoded(std::uint16_t key, char16_t unit) noexcept {
    if (key <= 0xFF) {
        m_single[key] = unit;
    } else if (const unsigned row = m_leadIndex[key >> 8]; row != 0) {
        m_pairs[(row - 1) * 256 + (key & 0xFF)] = unit;
    }
}

size_t CCodePageTable::ToWide(const unsigned char* text, size_t length, wchar_t* out,
                              size_t capacity) const {
    if (!m_doubleByte) {
        if (out == nullptr) return length;
        if (length > capacity) return kConversionFailed;
        for (size_t i = 0; i < length; ++i) out[i] = static_cast<wchar_t>(m_single[text[i]]);
        return length;
    }
    // A lead byte with any trail byte but NUL is a pair (an invalid one reads as the default
    // character); a lead byte at the end or before NUL is one default character.
    size_t count = 0;
    size_t i = 0;
    if (out == nullptr) {
        while (i < length) {
            i += (m_leadIndex[text[i]] != 0 && i + 1 < length && text[i + 1] != 0) ? 2 : 1;
            ++count;
        }
        return count;
    }
    while (i < length) {
        if (count == capacity) return kConversionFailed;
        const unsigned char b = text[i];
        const unsigned row = m_leadIndex[b];
        if (row == 0) {
            out[count++] = static_cast<wchar_t>(m_single[b]);
            ++i;
        } else if (i + 1 < length && text[i + 1] != 0) {
            out[count++] = static_cast<wchar_t>(m_pairs[(row - 1) * 256 + text[i + 1]]);
            i += 2;
        } else {
            out[count++] = static_cast<wchar_t>(m_wideDefault);
            ++i;
        }
    }
    return count;
}

// A character beyond U+FFFF is two UTF-16 units converted one by one, as Windows does: two
// default characters. Code points above U+10FFFF are taken as U+FFFD.
size_t CCodePageTable::FromWide(const wchar_t* text, size_t length, char* out,
                                size_t capacity) const {
    size_t count = 0;
    if (out == nullptr) {
        for (size_t i = 0; i < length; ++i) {
            const auto c = static_cast<std::uint32_t>(text[i]);
            if (c <= 0xFFFF) {
                count += Width(m_encode[c]);
            } else if (c <= 0x10FFFF) {
                count += Width(m_encode[0xD800 + ((c - 0x10000) >> 10)]) +
                         Width(m_encode[0xDC00 + (c & 0x3FF)]);
            } else {
                count += Width(m_encode[0xFFFD]);
            }
        }
        return count;
    }
    auto put = [&](std::uint16_t bytes) -> bool {
        if (m_doubleByte && bytes > 0xFF) {
            if (capacity - count < 2) return false;
            out[count] = static_cast<char>(bytes >> 8);
            out[count + 1] = static_cast<char>(bytes & 0xFF);
            count += 2;
            return true;
        }
        if (count == capacity) return false;
        out[count++] = static_cast<char>(bytes);
        return true;
    };
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<std::uint32_t>(text[i]);
        bool ok = false;
        if (c <= 0xFFFF) {
            ok = put(m_encode[c]);
        } else if (c <= 0x10FFFF) {
            ok = put(m_encode[0xD800 + ((c - 0x10000) >> 10)]) &&
                 put(m_encode[0xDC00 + (c & 0x3FF)]);
        } else {
            ok = put(m_encode[0xFFFD]);
        }
        if (!ok) return kConversionFailed;
    }
    return count;
}

}  // namespace Tavrin::Platform::Detail
