/// \file
/// The library's version, kept equal to `project(VERSION ...)` in CMakeLists.txt (configuring
/// fails when they differ), and so to the CMake package and pkg-config versions.
#pragma once

/// Major version: changes when a release breaks source or binary compatibility.
#define TAVRIN_VERSION_MAJOR 0
/// Minor version: changes when a release adds to the API compatibly.
#define TAVRIN_VERSION_MINOR 1
/// Patch version: changes for fixes only.
#define TAVRIN_VERSION_PATCH 0
/// The version as text, "major.minor.patch".
#define TAVRIN_VERSION_STRING "0.1.0"
/// The version as one comparable number: major * 10000 + minor * 100 + patch.
#define TAVRIN_VERSION \
    (TAVRIN_VERSION_MAJOR * 10000 + TAVRIN_VERSION_MINOR * 100 + TAVRIN_VERSION_PATCH)
