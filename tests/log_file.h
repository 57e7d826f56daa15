// Reading the library's log in a test's own temporary directory.
#ifndef HALVEX_TEST_LOG_FILE_H
#define HALVEX_TEST_LOG_FILE_H

#include <fstream>
#include <sstream>
#include <string>

inline std::string ReadLog(const std::string &directory)
{
    std::ifstream in(directory + "/halvex32.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline int Occurrences(const std::string &text, const std::string &part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        count++;
    return count;
}

#endif
