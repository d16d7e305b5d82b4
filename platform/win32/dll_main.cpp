// The library's load-time entry, which only Windows has: the module keeps no
// per-thread state, so it asks not to be called for every thread the host
// starts and ends. The C run-time's DLL start-up refers to DllMain, which
// pulls this file into the library; programs never refer to it.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
