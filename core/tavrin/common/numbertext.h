// Number text of the text formats: what a stream's inserters give in the "C" locale with no
// format flags, made without the stream.
#pragma once

#include <charconv>
#include <string>
#include <type_traits>

namespace Tavrin::Detail {

// Significant digits written for floating values: enough to read each value back exactly. The
// writers also set them as the stream's precision, which is part of what a Write leaves behind.
inline constexpr int kFloatDigits = 9;
inline constexpr int kDoubleDigits = 17;

// `Out` is std::string or CTextBuffer.

// Appends `value` in decimal, as the stream's inserter for its type writes it.
template <class Out, class T>
void AppendInteger(Out& out, T value) {
    static_assert(std::is_integral_v<T> && sizeof(T) <= 8);
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// Appends `value` with `digits` significant digits in general notation (printf's %.*g), which
// is what the stream's inserter gives with that precision and no float format field set.
template <class Out>
void AppendGeneral(Out& out, double value, int digits) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
    out.append(buffer, result.ptr);
}

}  // namespace Tavrin::Detail
