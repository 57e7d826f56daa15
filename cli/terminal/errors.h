// Failures the halvex tool reports: one clear sentence, and an exit code.
#pragma once

#include <stdexcept>
#include <string>

namespace halvex {

enum ExitCode { ExitFailure = 1, ExitUsage = 2, ExitDevice = 3, ExitNoAnswer = 4, ExitBadData = 5, ExitInterrupted = 130 };

class Failure : public std::runtime_error {
public:
    Failure(ExitCode code, const std::string &message) : std::runtime_error(message), code_(code) {}
    ExitCode code() const { return code_; }

private:
    ExitCode code_;
};

} // namespace halvex
