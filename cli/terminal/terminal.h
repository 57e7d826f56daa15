// What goes to the terminal: progress and colour only when a person is
// watching; standard output carries data alone.
#pragma once

#include <chrono>
#include <string>

namespace halvex {

bool StderrIsTerminal();
bool StdoutIsTerminal();

// A line on standard error, rewritten in place, when it is a terminal.
class Progress {
public:
    explicit Progress(std::string what);
    ~Progress();
    void Update(int done, int total);
    // For a transfer that tells nothing of its progress: how long it runs.
    void Running();
    // Ends the line with the time taken.
    void Done(const std::string &result);

private:
    std::string what_;
    bool shown_;
    std::chrono::steady_clock::time_point start_, lastDrawn_;
};

// Messages of the tool itself (the demo's narration, --verbose): to
// standard error, so that standard output stays data.
void Say(const std::string &line);

} // namespace halvex
