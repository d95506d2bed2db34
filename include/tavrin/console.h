/// \file
/// The process's standard streams, for command-line programs built on the library: whether one
/// is a terminal, and switching one to binary mode where the system distinguishes text mode.
#pragma once

#include <tavrin/export.h>

namespace Tavrin::Console {

/// The three standard streams.
enum class EStream {
    Input,   ///< standard input
    Output,  ///< standard output
    Error,   ///< standard error
};

/// True when the stream is attached to a terminal (a console window on Windows).
TAVRIN_API bool IsTerminal(EStream stream) noexcept;

/// Makes the stream pass bytes unchanged (no line-end translation). Does nothing on systems
/// without a text mode. Call it before the first read or write of the stream.
TAVRIN_API void SetBinary(EStream stream) noexcept;

}  // namespace Tavrin::Console
