/* The DLL's entry point. */
#include <windows.h>

#include "../../engine/entry.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        ProcessAttach();
    else if (reason == DLL_PROCESS_DETACH)
        ProcessDetach();
    return TRUE;
}
