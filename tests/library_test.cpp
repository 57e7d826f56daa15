// libhalvex32 loaded and unloaded as a host does it.
#include <gtest/gtest.h>

#include <chrono>
#include <dirent.h>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

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
    using OutputDebugFn = int32_t (*)(const char *);
    auto outputDebug = reinterpret_cast<OutputDebugFn>(dlsym(library, "OutputDebug"));
    ASSERT_NE(outputDebug, nullptr);
    EXPECT_EQ(outputDebug("anything\n"), 0);
    usleep(50000); // the dispatch thread has started its log by now
    dlclose(library);
    unsetenv("TMPDIR");
    EXPECT_NE(access((directory + "/halvex32.log").c_str(), F_OK), 0);
    rmdir(directory.c_str());
}

} // namespace
