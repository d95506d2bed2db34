/// \file
/// The thread apartment calls of the component runtime: the system's own on Windows (ole32,
/// after refusing the flags the stand-in refuses), the library's stand-in on Linux.
///
/// The text file's code-page guess initialises the runtime on the calling thread as a
/// single-threaded apartment for the duration of the guess. An application that wants a thread
/// in the multithreaded apartment (where that initialisation fails) enters it with
/// CoInitializeEx(nullptr, COINIT_MULTITHREADED). The state is per thread and counted: every
/// successful call (S_OK or S_FALSE) must be balanced by one CoUninitialize on the same thread.
#pragma once

#include <cstdint>

#include <tavrin/export.h>

// <windows.h> defines these names as macros. They are set aside here so that this header can
// follow it; after it, the system's macros (with the same values) are back in force.
#pragma push_macro("S_OK")
#pragma push_macro("S_FALSE")
#pragma push_macro("E_INVALIDARG")
#pragma push_macro("RPC_E_CHANGED_MODE")
#undef S_OK
#undef S_FALSE
#undef E_INVALIDARG
#undef RPC_E_CHANGED_MODE

namespace Tavrin::Com {

/// Result code of the apartment calls: negative for failure, 0 or positive for success.
using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;     ///< success, first initialisation on the thread
inline constexpr HRESULT S_FALSE = 1;  ///< success, the thread was already in that apartment
/// Failure: a non-null reserved argument or unknown flags.
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
/// Failure: the thread is already in the other apartment.
inline constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106u);

inline constexpr unsigned long COINIT_MULTITHREADED = 0x0;      ///< the multithreaded apartment
inline constexpr unsigned long COINIT_APARTMENTTHREADED = 0x2;  ///< a single-threaded apartment
inline constexpr unsigned long COINIT_DISABLE_OLE1DDE = 0x4;    ///< accepted, no effect here
inline constexpr unsigned long COINIT_SPEED_OVER_MEMORY = 0x8;  ///< accepted, no effect here

/// True for a success code (S_OK, S_FALSE), false for a failure.
constexpr bool Succeeded(HRESULT hr) noexcept { return hr >= 0; }

/// Enters the apartment that `coInit` names on the calling thread. S_OK on the first call,
/// S_FALSE when the thread is already in that apartment (the count goes up either way),
/// RPC_E_CHANGED_MODE when it is in the other one, E_INVALIDARG for a non-null `reserved` or
/// unknown flags (the count does not change on failure).
TAVRIN_API HRESULT CoInitializeEx(void* reserved, unsigned long coInit) noexcept;

/// CoInitializeEx(reserved, COINIT_APARTMENTTHREADED).
TAVRIN_API HRESULT CoInitialize(void* reserved) noexcept;

/// Undoes one successful initialisation on the calling thread; the thread leaves its apartment
/// with the last one. Does nothing on a thread that is not initialised.
TAVRIN_API void CoUninitialize() noexcept;

}  // namespace Tavrin::Com

#pragma pop_macro("RPC_E_CHANGED_MODE")
#pragma pop_macro("E_INVALIDARG")
#pragma pop_macro("S_FALSE")
#pragma pop_macro("S_OK")
