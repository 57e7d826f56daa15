// The tool's table of the library's error codes against what the header
// declares, what the README tells users and what the Python package says.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "receiver/liberrors.h"

namespace {

std::string Source(const std::string &path)
{
    std::ifstream file(std::string(HALVEX_SOURCE) + "/" + path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

using Codes = std::map<std::string, int>; // name -> code

Codes TableCodes()
{
    Codes codes;
    for (const halvex::LibraryError &error : halvex::LibraryErrors())
        codes[error.name] = error.code;
    return codes;
}

TEST(LibraryErrors, TheTableIsTheHeadersEnumAndTheReadmesTable)
{
    Codes table = TableCodes();
    ASSERT_EQ(table.size(), halvex::LibraryErrors().size()) << "a name twice";

    std::string header = Source("include/halvex32.h");
    std::size_t start = header.find("enum HalvexErrorCode {");
    ASSERT_NE(start, std::string::npos);
    std::string body = header.substr(start, header.find("};", start) - start);
    Codes declared;
    std::regex member(R"((HalvexError\w+) = (\d+))");
    for (std::sregex_iterator it(body.begin(), body.end(), member), end; it != end; ++it)
        declared[(*it)[1]] = std::stoi((*it)[2]);
    EXPECT_EQ(declared, table);

    // | 2, 3 | `HalvexErrorNoDevice`, `HalvexErrorNoPath` | the port does not exist |
    std::string readme = Source("README.md");
    Codes documented;
    std::regex row(R"(\n\| ([\d, ]+) \| (`HalvexError[^|]*) \|)");
    for (std::sregex_iterator it(readme.begin(), readme.end(), row), end; it != end; ++it) {
        std::istringstream numbers(std::regex_replace((*it)[1].str(), std::regex(","), " "));
        std::string names = (*it)[2];
        std::regex name("`(HalvexError\\w+)`");
        for (std::sregex_iterator n(names.begin(), names.end(), name), none; n != none; ++n) {
            int code = -1;
            numbers >> code;
            documented[(*n)[1]] = code;
        }
    }
    EXPECT_EQ(documented, table);
}

TEST(LibraryErrors, ThePythonPackageSaysWhatTheToolSays)
{
    std::string python = Source("python/halvex32/_errors.py");
    std::regex reason(R"re(\n    (\d+): \(\w+, "([^"]*)"\),)re");
    int compared = 0;
    for (std::sregex_iterator it(python.begin(), python.end(), reason), end; it != end; ++it, ++compared)
        EXPECT_EQ(halvex::LibrarySentence(std::stoi((*it)[1])), (*it)[2].str()) << "code " << (*it)[1];
    EXPECT_GE(compared, 15);
    EXPECT_EQ(halvex::LibrarySentence(31), "error 31");
}

} // namespace
