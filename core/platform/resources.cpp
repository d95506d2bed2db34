// Module resources on Linux: modules are the mappings that the dynamic loader reports, and
// their resources are those they register (resourceregistry.cpp).
#include "resources.h"

#include <dlfcn.h>
#include <sys/auxv.h>

namespace Tavrin::Platform {

HRSRC FindResource(HINSTANCE module, int id, const wchar_t* type) noexcept {
    return FindRegisteredResource(module, id, type);
}

HGLOBAL LoadResource(HINSTANCE /*module*/, HRSRC resource) noexcept { return resource; }

std::uint32_t SizeofResource(HINSTANCE /*module*/, HRSRC resource) noexcept {
    return resource != nullptr ? resource->size : 0;
}

const void* LockResource(HGLOBAL loaded) noexcept {
    return loaded != nullptr ? loaded->data : nullptr;
}

}  // namespace Tavrin::Platform

namespace Tavrin {

HINSTANCE GetModuleOf(const void* address) noexcept {
    Dl_info info{};
    if (address == nullptr || ::dladdr(address, &info) == 0) return nullptr;
    return static_cast<HINSTANCE>(info.dli_fbase);
}

HINSTANCE GetMainModule() noexcept {
    // The entry point lies in the executable's own code.
    static const HINSTANCE main = GetModuleOf(reinterpret_cast<const void*>(::getauxval(AT_ENTRY)));
    return main;
}

HINSTANCE GetLibraryModule() noexcept {
    static const char anchor = 0;
    static const HINSTANCE library = GetModuleOf(&anchor);
    return library;
}

}  // namespace Tavrin
