// Base64 encoding of byte blobs: the standard alphabet with "=" padding.
#pragma once

#include <cstddef>
#include <string>

#include <tavrin/export.h>

namespace Tavrin::Base64 {

// Base64 text of `size` bytes at `data`; with `lineBreaks`, a line break after every 18th
// full group of four characters.
TAVRIN_API std::string Encode(const void* data, size_t size, bool lineBreaks);
// Number of bytes that Decode reports for `text`.
TAVRIN_API size_t GetDecodedSize(const char* text);
// Decodes `text` into `buffer` (`bufferSize` bytes, owned by the caller) and returns the
// decoded size. Throws Tavrin::CException when the buffer is too small or the text is
// rejected; the buffer is then untouched.
TAVRIN_API size_t Decode(const char* text, void* buffer, size_t bufferSize);

}  // namespace Tavrin::Base64
