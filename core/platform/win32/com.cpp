// The component runtime on Windows: ole32's apartments and object creation.
#include "core/platform/com.h"

#include "core/platform/codepagedetect.h"

#include <objbase.h>

namespace Tavrin::Com {
namespace {

constexpr unsigned long kKnownFlags =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

}  // namespace

HRESULT CoInitializeEx(void* reserved, unsigned long coInit) noexcept {
    // The flags the Linux runtime knows, so that both refuse the same calls.
    if (reserved != nullptr || (coInit & ~kKnownFlags) != 0) return E_INVALIDARG;
    return ::CoInitializeEx(nullptr, static_cast<DWORD>(coInit));
}

HRESULT CoInitialize(void* reserved) noexcept {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() noexcept { ::CoUninitialize(); }

}  // namespace Tavrin::Com

namespace Tavrin::Platform {

HRESULT CoCreateInstance(const GUID& clsid, IUnknown* outer, unsigned int clsContext,
                         const GUID& iid, void** object) noexcept {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if ((clsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) == 0) {
        return REGDB_E_CLASSNOTREG;
    }
    // The only class the library creates; its interfaces are reached through an adapter
    // (codepagedetect.cpp), so other classes are not offered.
    if (clsid == CLSID_CMultiLanguage) return CreateMultiLanguage(iid, object);
    return REGDB_E_CLASSNOTREG;
}

}  // namespace Tavrin::Platform
