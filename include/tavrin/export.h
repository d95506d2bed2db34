// Symbol visibility of the tavrin shared library.
#pragma once

#if defined(_WIN32)
#if defined(TAVRIN_BUILDING_LIBRARY)
#define TAVRIN_API __declspec(dllexport)
#else
#define TAVRIN_API __declspec(dllimport)
#endif
#else
#define TAVRIN_API __attribute__((visibility("default")))
#endif
