#include "com.h"

#include "codepagedetect.h"

namespace {

enum class EApartment { None, SingleThreaded, MultiThreaded };

// The calling thread's apartment and how many successful initialisations it holds.
struct SThreadState {
    EApartment apartment = EApartment::None;
    unsigned long count = 0;
};

thread_local SThreadState t_state;

}  // namespace

namespace Tavrin::Com {
namespace {

constexpr unsigned long kKnownFlags =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

}  // namespace

HRESULT CoInitializeEx(void* reserved, unsigned long coInit) noexcept {
    if (reserved != nullptr || (coInit & ~kKnownFlags) != 0) return E_INVALIDARG;
    const EApartment wanted = (coInit & COINIT_APARTMENTTHREADED) != 0 ? EApartment::SingleThreaded
                                                                       : EApartment::MultiThreaded;
    if (t_state.count == 0) {
        t_state.apartment = wanted;
        t_state.count = 1;
        return S_OK;
    }
    if (t_state.apartment != wanted) return RPC_E_CHANGED_MODE;
    ++t_state.count;
    return S_FALSE;
}

HRESULT CoInitialize(void* reserved) noexcept {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() noexcept {
    if (t_state.count == 0) return;
    if (--t_state.count == 0) t_state.apartment = EApartment::None;
}

}  // namespace Tavrin::Com

namespace Tavrin::Platform {
namespace {

struct SClass {
    const GUID* clsid;
    HRESULT (*create)(const GUID& iid, void** object) noexcept;
};

constexpr SClass kClasses[] = {
    {&CLSID_CMultiLanguage, &CreateMultiLanguage},
};

}  // namespace

HRESULT CoCreateInstance(const GUID& clsid, IUnknown* outer, unsigned int clsContext,
                         const GUID& iid, void** object) noexcept {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (t_state.count == 0) return CO_E_NOTINITIALIZED;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if ((clsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) == 0) {
        return REGDB_E_CLASSNOTREG;
    }
    for (const SClass& c : kClasses) {
        if (*c.clsid == clsid) return c.create(iid, object);
    }
    return REGDB_E_CLASSNOTREG;
}

}  // namespace Tavrin::Platform
