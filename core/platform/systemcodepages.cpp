// The system code pages on Linux: text is UTF-8 throughout, and the Mac code page is Mac Roman.
#include "systemcodepages.h"

namespace Tavrin::Platform {

unsigned int ResolveSystemCodePage(unsigned int codePage) noexcept {
    switch (codePage) {
        case 0:
        case 1:
        case 3: return 65001;
        case 2: return 10000;
        default: return codePage;
    }
}

}  // namespace Tavrin::Platform
