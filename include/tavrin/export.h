/// \file
/// Symbol visibility of the tavrin shared library.
#pragma once

/// \def TAVRIN_API
/// Marks a class or function as part of the shared library's interface: exported while the
/// library is built (TAVRIN_BUILDING_LIBRARY), imported by applications on Windows, default
/// visibility elsewhere (the library is built with hidden visibility).

#if defined(_WIN32)
#if defined(TAVRIN_BUILDING_LIBRARY)
#define TAVRIN_API __declspec(dllexport)
#else
#define TAVRIN_API __declspec(dllimport)
#endif
#else
#define TAVRIN_API __attribute__((visibility("default")))
#endif
