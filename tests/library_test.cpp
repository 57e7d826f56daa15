// libhalvex32 loaded and unloaded as a host does it.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <dirent.h>
#include <dlfcn.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "halvex32.h"
#include "pty.h"

namespace {

int ThreadCount()
{
    int count = 0;
    DIR *tasks = opendir("/proc/self/task");
    while (dirent *entry = readdir(tasks))
        count += entry->d_name[0] != '.';
    closedir(tasks);
    return count;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto loadBudget = std::chrono::seconds(20);
#else
constexpr auto loadBudget = std::chrono::seconds(1);
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

TEST(Library, LoadsAndUnloadsCleanly200Times)
{
    // One round first: a sanitizer runtime may start a thread of its own on the first load.
    dlclose(dlopen(HALVEX_LIBRARY, RTLD_NOW | RTLD_LOCAL));
    int threadsBefore = ThreadCount();
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; i++) {
        void *library = dlopen(HALVEX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        ASSERT_NE(dlsym(library, "OpenCommPortEx"), nullptr);
        ASSERT_EQ(dlclose(library), 0);
    }
    auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_LT(spent, loadBudget);
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST(Library, LogIsOffAtLoad)
{
    char pattern[] = "/tmp/halvex-load-XXXXXX";
    std::string directory = mkdtemp(pattern);
    setenv("TMPDIR", directory.c_str(), 1);
    void *library = dlopen(HALVEX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr);
    auto outputDebug = reinterpret_cast<OutputDebugFn>(dlsym(library, "OutputDebug"));
    ASSERT_NE(outputDebug, nullptr);
    EXPECT_EQ(outputDebug("anything\n"), 0);
    usleep(50000); // the dispatch thread has started its log by now
    dlclose(library);
    unsetenv("TMPDIR");
    EXPECT_NE(access((directory + "/halvex32.log").c_str(), F_OK), 0);
    rmdir(directory.c_str());
}

// HALVEX32_LOG, read as the library loads, switches the log on in any
// build: "1" for the usual file, a path for that file.
TEST(Library, HalvexLogTurnsTheLogOnAtLoad)
{
    char pattern[] = "/tmp/halvex-load-XXXXXX";
    std::string directory = mkdtemp(pattern);
    setenv("TMPDIR", directory.c_str(), 1);
    auto loadAndWrite = [](const char *line) {
        void *library = dlopen(HALVEX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr);
        auto outputDebug = reinterpret_cast<OutputDebugFn>(dlsym(library, "OutputDebug"));
        usleep(50000); // the dispatch thread has started its log by now
        EXPECT_EQ(outputDebug(line), 0);
        dlclose(library);
    };
    std::string chosen = directory + "/chosen.log";
    setenv("HALVEX32_LOG", chosen.c_str(), 1);
    loadAndWrite("to the chosen file\n");
    setenv("HALVEX32_LOG", "1", 1);
    loadAndWrite("to the usual file\n");
    unsetenv("HALVEX32_LOG");
    unsetenv("TMPDIR");
    std::string text = Slurp(chosen);
    EXPECT_NE(text.find("Error logging started for halvex32\n"), std::string::npos) << text;
    EXPECT_NE(text.find(": to the chosen file\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("usual"), std::string::npos);
    EXPECT_NE(Slurp(directory + "/halvex32.log").find(": to the usual file\n"), std::string::npos);
    std::system(("rm -rf " + directory).c_str());
}

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

} // namespace
