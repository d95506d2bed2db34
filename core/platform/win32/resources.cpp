// Module resources on Windows: modules are the loaded images, and a resource is first looked
// up among those registered at run time (resourceregistry.cpp), then among those compiled into
// the module (FindResourceW, LoadResource, SizeofResource, LockResource).
#include "core/platform/resources.h"

#include <windows.h>

// <windows.h> names the wide or narrow function FindResource; the library's own is meant here.
#undef FindResource

namespace Tavrin::Platform {

namespace {

// The module's own resource as the library's record. It lives in the calling thread's storage
// until the thread's next lookup: the lookup, load, size and lock of one read run in sequence
// on one thread.
thread_local SResource t_systemResource{};

}  // namespace

HRSRC FindResource(HINSTANCE module, int id, const wchar_t* type) noexcept {
    if (const SResource* registered = FindRegisteredResource(module, id, type)) return registered;
    const auto shortId = static_cast<WORD>(id);
    if (shortId == 0 || type == nullptr) return nullptr;
    // An integer type passed as a pointer value and a "#n" string both reach the system as they
    // are; string types compare without regard to case there, as in the registry.
    const HMODULE image = module != nullptr ? module : ::GetModuleHandleW(nullptr);
    const ::HRSRC found = ::FindResourceW(image, MAKEINTRESOURCEW(shortId), type);
    if (found == nullptr) return nullptr;
    const ::HGLOBAL loaded = ::LoadResource(image, found);
    t_systemResource.size = static_cast<std::uint32_t>(::SizeofResource(image, found));
    t_systemResource.data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    return &t_systemResource;
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
    HMODULE module = nullptr;
    if (address == nullptr ||
        !::GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(address), &module)) {
        return nullptr;
    }
    return module;
}

HINSTANCE GetMainModule() noexcept { return ::GetModuleHandleW(nullptr); }

HINSTANCE GetLibraryModule() noexcept {
    static const char anchor = 0;
    static const HINSTANCE library = GetModuleOf(&anchor);
    return library;
}

}  // namespace Tavrin
