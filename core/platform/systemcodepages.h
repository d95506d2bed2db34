// The system's own code pages: the numbers 0 (ANSI), 1 (OEM), 2 (Mac) and 3 (the thread's
// ANSI code page) that stand for whatever code page the system uses.
#pragma once

namespace Tavrin::Platform {

// The code page that `codePage` stands for; any other number is returned unchanged.
unsigned int ResolveSystemCodePage(unsigned int codePage) noexcept;

}  // namespace Tavrin::Platform
