// libhalvex32 (or halvex32.dll) loaded and unloaded as a host does it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "halvex32.h"
#include "log_file.h"
#include "portable.h"

#ifdef _WIN32
#include <tlhelp32.h>
#else
#include <dirent.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pty.h"
#endif

namespace {

#ifdef _WIN32
using Library = HMODULE;
Library Load() { return LoadLibraryA(HALVEX_LIBRARY); }
void *Symbol(Library library, const char *name) { return reinterpret_cast<void *>(GetProcAddress(library, name)); }
bool Unload(Library library) { return FreeLibrary(library) != 0; }

// Where the library's image has been, over all the loads.
uintptr_t imageLow = UINTPTR_MAX, imageHigh = 0;
void NoteImage(Library library)
{
    auto base = reinterpret_cast<uintptr_t>(library);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(library);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    imageLow = std::min(imageLow, base);
    imageHigh = std::max(imageHigh, base + static_cast<uintptr_t>(nt->OptionalHeader.SizeOfImage));
}

// The library's threads that still exist: those that started in its image.
// Wine starts threads of its own now and then, so a count of all would not
// tell.
int ThreadCount()
{
    using Query = LONG(WINAPI *)(HANDLE, int, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    const int startAddress = 9; // ThreadQuerySetWin32StartAddress
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId())
            continue;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        uintptr_t start = 0;
        if (thread && query && query(thread, startAddress, &start, sizeof start, nullptr) == 0)
            count += start >= imageLow && start < imageHigh;
        if (thread)
            CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return count;
}
#else

using Library = void *;
Library Load() { return dlopen(HALVEX_LIBRARY, RTLD_NOW | RTLD_LOCAL); }
void *Symbol(Library library, const char *name) { return dlsym(library, name); }
bool Unload(Library library) { return dlclose(library) == 0; }
void NoteImage(Library) {}

int ThreadCount()
{
    int count = 0;
    DIR *tasks = opendir("/proc/self/task");
    while (dirent *entry = readdir(tasks))
        count += entry->d_name[0] != '.';
    closedir(tasks);
    return count;
}
#endif

// The budget catches a wait at each load or unload, not a slow machine.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto loadBudget = std::chrono::seconds(20);
#elif defined(_WIN32)
// Wine's loader: 0.5 to 1.3 s on a quiet machine, 2.1 s seen on a busy one.
constexpr auto loadBudget = std::chrono::seconds(5);
#else
constexpr auto loadBudget = std::chrono::seconds(2);
#endif

// The export as a host calls it: standard call, as declared.
using OutputDebugFn = int32_t(HALVEX_CALL *)(const char *);

std::string Slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A Windows dispatch thread leaves the library's code during the unload but
// finishes only once the loader lets it, just after.
bool ThreadsSettleAt(int expected)
{
    for (int i = 0; i < 100 && ThreadCount() != expected; i++)
        SleepMs(10);
    return ThreadCount() == expected;
}

#ifdef _WIN32
constexpr const char *missingPort = "COM199";
#else
constexpr const char *missingPort = "/dev/halvex-no-such-port";
#endif

// 200 loads and unloads, each with the dispatch thread started (by a port
// open that fails) or not: quick, no thread left behind, none ended by force
// (which the log, on for the purpose, would say).
void LoadAndUnload(bool startTheThread)
{
    Library library = Load();
    ASSERT_NE(library, nullptr);
    auto open = reinterpret_cast<decltype(&OpenCommPort)>(Symbol(library, "OpenCommPort"));
    ASSERT_NE(open, nullptr);
    NoteImage(library);
    if (startTheThread) {
        EXPECT_EQ(open(missingPort, 9600), nullptr);
        EXPECT_GE(ThreadCount(), 1) << "the count sees the library's thread";
    }
    ASSERT_TRUE(Unload(library));
}

void LoadAndUnload200Times(bool startTheThread)
{
    std::string directory = MakeTestDirectory("cycles");
    SetEnv("HALVEX32_LOG", directory + "/cycles.log");
    // One round first: a sanitizer runtime, or Wine, may start a thread of
    // its own the first time a library, a thread or a log file is started.
    LoadAndUnload(startTheThread);
    SleepMs(50);
    int threadsBefore = ThreadCount();
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; i++)
        ASSERT_NO_FATAL_FAILURE(LoadAndUnload(startTheThread));
    auto spent = std::chrono::steady_clock::now() - start;
    UnsetEnv("HALVEX32_LOG");
    std::printf("200 loads and unloads%s in %.3f s\n", startTheThread ? " with a port open" : "",
                std::chrono::duration<double>(spent).count());
    // A thread started and ended each time costs more under Wine, the more
    // on a busy machine; the figure printed is the one to read.
    EXPECT_LT(spent, startTheThread ? 5 * loadBudget : loadBudget);
    EXPECT_TRUE(ThreadsSettleAt(threadsBefore)) << ThreadCount() << " threads, " << threadsBefore << " before";
    std::string log = Slurp(directory + "/cycles.log");
    EXPECT_EQ(Occurrences(log, "Error logging started for halvex32"), 201);
    EXPECT_EQ(log.find("terminated"), std::string::npos) << log;
    RemoveTree(directory);
}

TEST(Library, LoadsAndUnloadsCleanly200Times) { LoadAndUnload200Times(false); }

TEST(Library, LoadsStartsTheThreadAndUnloadsCleanly200Times) { LoadAndUnload200Times(true); }

TEST(Library, LogIsOffAtLoad)
{
    std::string directory = MakeTestDirectory("load");
    SetEnv(TempVariable, directory);
    Library library = Load();
    ASSERT_NE(library, nullptr);
    auto outputDebug = reinterpret_cast<OutputDebugFn>(Symbol(library, "OutputDebug"));
    ASSERT_NE(outputDebug, nullptr);
    EXPECT_EQ(outputDebug("anything\n"), 0);
    Unload(library);
    UnsetEnv(TempVariable);
    EXPECT_FALSE(Exists(directory + "/halvex32.log"));
    RemoveTree(directory);
}

// HALVEX32_LOG, read as the library loads, switches the log on in any
// build: "1" for the usual file, a path for that file.
TEST(Library, HalvexLogTurnsTheLogOnAtLoad)
{
    std::string directory = MakeTestDirectory("load");
    SetEnv(TempVariable, directory);
    auto loadAndWrite = [](const char *line) {
        Library library = Load();
        ASSERT_NE(library, nullptr);
        auto outputDebug = reinterpret_cast<OutputDebugFn>(Symbol(library, "OutputDebug"));
        EXPECT_EQ(outputDebug(line), 0);
        Unload(library);
    };
    std::string chosen = directory + "/chosen.log";
    SetEnv("HALVEX32_LOG", chosen);
    loadAndWrite("to the chosen file\n");
    SetEnv("HALVEX32_LOG", "1");
    loadAndWrite("to the usual file\n");
    UnsetEnv("HALVEX32_LOG");
    UnsetEnv(TempVariable);
    std::string text = Slurp(chosen);
    EXPECT_NE(text.find("Error logging started for halvex32\n"), std::string::npos) << text;
    EXPECT_NE(text.find(": to the chosen file\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("usual"), std::string::npos);
    EXPECT_NE(Slurp(directory + "/halvex32.log").find(": to the usual file\n"), std::string::npos);
    RemoveTree(directory);
}

#ifndef _WIN32 // a process of its own, with a pseudo-terminal for its line
int16_t HALVEX_CALL ExitAtOnce(int32_t, int32_t, BSTR *)
{
    std::exit(0);
}

// A host that ends the process from inside a callback: the unload then runs
// on the library's own thread, which must not wait for itself.
TEST(Library, AHostMayExitFromInsideACallback)
{
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        void *library = dlopen(HALVEX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        auto open = reinterpret_cast<decltype(&OpenCommPort)>(dlsym(library, "OpenCommPort"));
        auto start = reinterpret_cast<decltype(&StartNMEA)>(dlsym(library, "StartNMEA"));
        Pty line;
        PortSession *session = open ? open(line.path(), 4800) : nullptr;
        HalvexNmeaCallback callback = ExitAtOnce;
        if (!session || !start(session, nullptr, &callback))
            _exit(3);
        line.Send("$GPGLL,1*4D\r\n");
        sleep(30);
        _exit(4); // the callback never came
    }
    auto begun = std::chrono::steady_clock::now();
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() - begun > std::chrono::seconds(10)) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            FAIL() << "the process hung in exit()";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(2));
    ASSERT_TRUE(WIFEXITED(status));
#ifndef __SANITIZE_ADDRESS__ // LeakSanitizer reports what the process leaves at exit
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}
#endif

} // namespace
