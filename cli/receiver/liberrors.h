// The library's error codes as the tool knows them: one table of the code,
// the header's name for it and the one sentence the tool says of it. The
// tests hold it to the header's enum, the README's table and the Python
// package's sentences.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace halvex {

struct LibraryError {
    int32_t code;
    const char *name;     // as halvex32.h names it
    const char *sentence; // what the tool says of it, after "what failed: "
};

// Every code the library gives, in the header's order.
const std::vector<LibraryError> &LibraryErrors();

// The code's row, or null for a code the library does not name.
const LibraryError *FindLibraryError(int32_t code);

// The tool's sentence for a code; "error N" for a code the library does not
// name (a Windows error passed on as it came).
std::string LibrarySentence(int32_t code);

} // namespace halvex
