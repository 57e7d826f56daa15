// Mistakes on the command line, said as one plain sentence: which option or
// command, and what it takes.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace halvex {

// Checks of an option's value whose failure reads "--OPTION takes WHAT".
CLI::Validator Takes(const std::string &what, bool (*valid)(const std::string &value));
bool WholeAboveZero(const std::string &value);
bool WholeNotNegative(const std::string &value);
bool NumberAboveZero(const std::string &value);
bool NotBlank(const std::string &value);

// The sentence for a parse error, without the program's name; args are the
// command line after the program's name.
std::string UsageSentence(const CLI::App &app, const CLI::ParseError &error, const std::vector<std::string> &args);

} // namespace halvex
