// Module resources: the stand-in for FindResource, LoadResource, SizeofResource and
// LockResource over the registry that modules fill when they are loaded (<tavrin/module.h>).
#pragma once

#include <cstdint>

#include <tavrin/module.h>

namespace Tavrin::Platform {

// The bytes of a resource.
struct SResource {
    const void* data;
    std::uint32_t size;
};
// A found resource; stays valid while the resource is registered.
using HRSRC = const SResource*;
// A loaded resource.
using HGLOBAL = const SResource*;

// The resource registered (RegisterResource) under (module, id, type), null when there is none.
const SResource* FindRegisteredResource(HINSTANCE module, int id, const wchar_t* type) noexcept;

// The resource of integer identifier `id` (only its low 16 bits count, as for an integer
// resource name; 0 finds nothing) and `type` in `module` (null: the executable); null when
// there is none or `type` is null.
HRSRC FindResource(HINSTANCE module, int id, const wchar_t* type) noexcept;
// Null when `resource` is null.
HGLOBAL LoadResource(HINSTANCE module, HRSRC resource) noexcept;
// The size in bytes; 0 for a null resource.
std::uint32_t SizeofResource(HINSTANCE module, HRSRC resource) noexcept;
// The first byte; null when the resource has no bytes to give.
const void* LockResource(HGLOBAL loaded) noexcept;

}  // namespace Tavrin::Platform
