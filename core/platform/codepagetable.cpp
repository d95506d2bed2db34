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
    m_pairs.assign(rows * 256, m_wideDefault);
    for (auto& unit : m_single) unit = m_wideDefault;
}

std::unique_ptr<CCodePageTable> CCodePageTable::FromIcu(const SCodePageLayout& layout) {
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
    for (unsigned b = 0; b < 256; ++b) {
        const char bytes[2] = {static_cast<char>(b), static_cast<char>(0)};
        if (table->m_leadIndex[b] == 0) {
            const int32_t unit = IcuDecodeOne(converter.get(), bytes, 1);
            if (unit >= 0) table->m_single[b] = static_cast<char16_t>(unit);
            continue;
        }
        char16_t* row = &table->m_pairs[(table->m_leadIndex[b] - 1u) * 256];
        for (unsigned t = 1; t < 256; ++t) {
            const char pair[2] = {static_cast<char>(b), static_cast<char>(t)};
            const int32_t unit = IcuDecodeOne(converter.get(), pair, 2);
            if (unit >= 0) row[t] = static_cast<char16_t>(unit);
        }
    }

    // Only the characters ICU can write are tried; the others keep the default character.
    std::unique_ptr<USet, SSetCloser> set(uset_openEmpty());
    ucnv_getUnicodeSet(converter.get(), set.get(), UCNV_ROUNDTRIP_AND_FALLBACK_SET, &error);
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
            const int32_t bytes =
                IcuEncodeOne(converter.get(), static_cast<UChar>(c), table->m_doubleByte);
            if (bytes >= 0) table->m_encode[static_cast<size_t>(c)] = static_cast<uint16_t>(bytes);
        }
    }
    return table;
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
    size_t count = 0;
    size_t i = 0;
    while (i < length) {
        const unsigned char b = text[i];
        const unsigned row = m_leadIndex[b];
        char16_t unit;
        if (row == 0) {
            unit = m_single[b];
            ++i;
        } else if (i + 1 < length && text[i + 1] != 0) {
            // Any trail byte but NUL makes a pair, and an invalid pair one default character.
            unit = m_pairs[(row - 1) * 256 + text[i + 1]];
            i += 2;
        } else {
            unit = m_wideDefault;
            ++i;
        }
        if (out != nullptr) {
            if (count == capacity) return kConversionFailed;
            out[count] = static_cast<wchar_t>(unit);
        }
        ++count;
    }
    return count;
}

size_t CCodePageTable::FromWide(const wchar_t* text, size_t length, char* out,
                                size_t capacity) const {
    size_t count = 0;
    auto put = [&](std::uint16_t bytes) -> bool {
        if (m_doubleByte && bytes > 0xFF) {
            if (out != nullptr) {
                if (capacity - count < 2) return false;
                out[count] = static_cast<char>(bytes >> 8);
                out[count + 1] = static_cast<char>(bytes & 0xFF);
            }
            count += 2;
            return true;
        }
        if (out != nullptr) {
            if (count == capacity) return false;
            out[count] = static_cast<char>(bytes);
        }
        ++count;
        return true;
    };
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<std::uint32_t>(text[i]);
        bool ok;
        if (c <= 0xFFFF) {
            ok = put(m_encode[c]);
        } else if (c <= 0x10FFFF) {
            // Two UTF-16 units, converted one by one as Windows does: two default characters.
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
