// A receiver as the halvex tool talks to it: through the library's exports
// only, on a serial device or on the built-in simulator's pseudo-terminal.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gpx.h"
#include "halvex32.h"
#include "receiver.h"

namespace halvex {

struct Product {
    int id = 0;
    int version = 0; // hundredths
    std::string description;
};

struct Options {
    std::string port; // empty: the built-in simulator
    int baud = 9600;
    double timeout = 60; // seconds to wait for a transfer
    bool verbose = false;
    halvexsim::Config simulator;
    int simulatorTrackPoints = 300;
};

// Progress of a transfer: points so far and points announced (0 if unknown).
using ProgressFn = std::function<void(int done, int total)>;

class Connection {
public:
    explicit Connection(const Options &options);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    const std::string &Device() const { return device_; }
    bool Simulated() const { return static_cast<bool>(simulator_); }
    halvexsim::Receiver *Simulator() { return simulator_.get(); }

    Product Identify();
    std::vector<GpxPoint> DownloadWaypoints();
    void UploadWaypoints(const std::vector<GpxPoint> &waypoints);
    std::vector<GpxRoute> DownloadRoutes();
    void UploadRoutes(const std::vector<GpxRoute> &routes);
    std::vector<GpxTrackPoint> DownloadTrack(const ProgressFn &progress);
    void UploadTrack(const std::vector<GpxTrackPoint> &points);

    // NMEA mode: every sentence to onSentence, until StopNmea.
    void StartNmea(std::function<void(const std::string &)> onSentence);
    void StopNmea();
    void SendSentences(const std::vector<std::string> &sentences);

private:
    void Identified();
    [[noreturn]] void NoAnswer(const std::string &what);

    Options options_;
    std::string device_;
    int master_ = -1;
    std::unique_ptr<halvexsim::Receiver> simulator_;
    PortSession *session_ = nullptr;
    bool identified_ = false;
};

} // namespace halvex
