// Loads libhalvex32 as a host would and lists the exports it finds.
#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char **argv)
{
    const char *path = argc > 1 ? argv[1] : HALVEX_LIBRARY;
    void *library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "halvex-exports: cannot load %s: %s\n", path, dlerror());
        return 1;
    }
    static const char *const exports[] = {
        "StartNMEA", "StopNMEA", "HalvexGetProductInfoInit", "OutputDebug", "SendNMEA",
        "HalvexUploadRouteInit", "HalvexDownloadRouteInit", "HalvexUploadWayPtInit", "HalvexDownloadWayPtInit",
        "HalvexDownloadTrackInit", "HalvexUploadTrackInit", "OpenCommPort", "CloseCommPort", "SendNMEAChk",
        "OpenCommPortEx"};
    std::printf("%s\n", path);
    int missing = 0;
    int ordinal = 3;
    for (const char *name : exports) {
        bool found = dlsym(library, name) != nullptr;
        missing += !found;
        std::printf("  %2d  %-26s %s\n", ordinal++, name, found ? "exported" : "MISSING");
    }
    dlclose(library);
    return missing ? 1 : 0;
}
