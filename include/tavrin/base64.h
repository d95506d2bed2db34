/// \file
/// Base64 encoding of byte blobs: the standard alphabet with "=" padding.
#pragma once

#include <cstddef>
#include <string>

#include <tavrin/export.h>

namespace Tavrin::Base64 {

/// Base64 text of `size` bytes at `data` (only read during the call); with `lineBreaks`, a line
/// break "\n" after every 18th full group of four characters. An empty input gives "". Throws
/// Tavrin::CException when `data` is null with a nonzero size, or the text cannot be allocated.
TAVRIN_API std::string Encode(const void* data, size_t size, bool lineBreaks);
/// Number of bytes that Decode gives for the zero-terminated `text` (0 for null): the alphabet
/// and "=" characters before the first character that is none of them nor space, TAB, CR or LF,
/// less the "=" right before that point, times 3/4 (rounded down).
TAVRIN_API size_t GetDecodedSize(const char* text);
/// Decodes `text` into `buffer` (`bufferSize` bytes, owned by the caller) and returns
/// GetDecodedSize(text); space, TAB, CR and LF are passed over, the text ends at any other
/// character outside the alphabet, and bytes after an early pad are zero. Throws
/// Tavrin::CException when the text is null or decodes to no byte, or the buffer is null or
/// too small; the buffer is then untouched.
TAVRIN_API size_t Decode(const char* text, void* buffer, size_t bufferSize);

}  // namespace Tavrin::Base64
