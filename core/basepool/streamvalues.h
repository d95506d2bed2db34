// The fixed-width values of the binary streams, in the order of the stream interfaces: the
// operation's name and the value's type. The write and read streams define their typed
// operations from this one list (bool, one byte 0 or 1, is written out by hand).
#pragma once

#include <cstdint>

#define TAVRIN_STREAM_FIXED_VALUES(X) \
    X(Long, int32_t)                  \
    X(ULong, uint32_t)                \
    X(Char, char)                     \
    X(Double, double)                 \
    X(Float, float)                   \
    X(Int64, int64_t)                 \
    X(UInt64, uint64_t)               \
    X(Int32, int32_t)                 \
    X(UInt32, uint32_t)               \
    X(Int16, int16_t)                 \
    X(UInt16, uint16_t)               \
    X(Int8, int8_t)                   \
    X(UInt8, uint8_t)
