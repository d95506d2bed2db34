// The system code pages on Windows: the ANSI and OEM code pages of the system; the Mac and
// thread code pages are passed on, since the conversion functions resolve them themselves.
#include "core/platform/systemcodepages.h"

#include <windows.h>

namespace Tavrin::Platform {

unsigned int ResolveSystemCodePage(unsigned int codePage) noexcept {
    switch (codePage) {
        case CP_ACP: return ::GetACP();
        case CP_OEMCP: return ::GetOEMCP();
        default: return codePage;
    }
}

}  // namespace Tavrin::Platform
