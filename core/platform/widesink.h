// Collects UTF-16 units into wide text of code points, for the converters that read UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Tavrin::Platform::Detail {

// Counts or stores the UTF-16 units a converter reads as wide characters (code points), pairing
// a high surrogate with the low one after it even when they arrive in different calls; a
// surrogate without its partner stays as it is, as in Windows' UTF-16 result.
class CWideSink {
public:
    CWideSink(wchar_t* out, size_t capacity) : m_out(out), m_capacity(capacity) {}

    bool Put(std::uint32_t unit) {
        if (m_high != 0) {
            const std::uint32_t high = m_high;
            m_high = 0;
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                return Emit(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
            }
            if (!Emit(high)) return false;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            m_high = unit;
            return true;
        }
        return Emit(unit);
    }

    bool Finish() {
        if (m_high == 0) return true;
        const std::uint32_t high = m_high;
        m_high = 0;
        return Emit(high);
    }

    size_t Count() const { return m_count; }

private:
    bool Emit(std::uint32_t c) {
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
    std::uint32_t m_high = 0;
};

}  // namespace Tavrin::Platform::Detail
