// The entry point of tavrin.dll. The library keeps no per-thread state that needs the thread
// attach and detach notifications, so it turns them off.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) ::DisableThreadLibraryCalls(module);
    return TRUE;
}
