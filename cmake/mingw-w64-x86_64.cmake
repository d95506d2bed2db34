# Cross-compiling for 64-bit Windows with mingw-w64 (Debian g++-mingw-w64-x86-64-posix: the
# POSIX thread model, which std::thread and std::mutex need). Programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAVRIN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVRIN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVRIN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVRIN_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAVRIN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and programs run under Wine, in a prefix of their own (TAVRIN_WINEPREFIX; the presets
# put it under build/) so that other Wine users on the machine are not disturbed. The empty
# overrides keep Wine from offering to install its .NET and HTML engines on first start.
find_program(TAVRIN_WINE NAMES wine wine64)
if(TAVRIN_WINE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  if(NOT TAVRIN_WINEPREFIX)
    set(TAVRIN_WINEPREFIX "$ENV{HOME}/.wine-tavrin")
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_COMMAND} -E env WINEPREFIX=${TAVRIN_WINEPREFIX} WINEDEBUG=-all
      WINEDLLOVERRIDES=mscoree,mshtml= ${TAVRIN_WINE})
endif()
