// Where a command's GPX goes: standard output, or a file written as careful
// tools write one. The target is checked when the command starts, before a
// long download, and written only once the whole document is there.
#pragma once

#include <string>

namespace halvex {

class Output {
public:
    // Checks that path (empty or "-": standard output) can be written by the
    // user who runs the tool; throws Failure when it cannot.
    explicit Output(const std::string &path);
    // Writes the whole text. A regular file (or none) is replaced in one step
    // by a file written beside it, with the old file's mode and, where the
    // user may, its owner; a FIFO, a device or standard output is written
    // directly, never replaced. A symbolic link leads to its target.
    void Write(const std::string &text) const;

private:
    enum class Kind { Stdout, Replace, Direct };
    std::string path_; // the link's target when the user named a link
    Kind kind_ = Kind::Stdout;
};

} // namespace halvex
