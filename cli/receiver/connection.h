// A receiver as the halvex tool talks to it: through the library's exports
// only, on a serial device or on the built-in simulator's pseudo-terminal.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gpx/gpx.h"
#include "halvex32.h"
#include "receiver.h"

namespace halvex {

struct Rendezvous;

// What one transfer can carry: its records packet counts in 16 bits.
constexpr std::size_t kTransferLimit = 65535;

// The data types the library speaks to the receiver in; 0 where it has none.
struct DataTypes {
    int waypoint = 0, routeHeader = 0, routeLink = 0, trackHeader = 0, trackPoint = 0;
};

struct Product {
    int id = 0;
    int version = 0; // hundredths
    std::string description;
    std::vector<std::string> protocols; // "P000", "L001", "A010", ...
    DataTypes types;
    int identWidth = 6;    // characters of a waypoint name that reach the receiver
    int commentWidth = 40; // of a comment; 0: the receiver keeps none
    bool typesFromTable = false; // from the library's table, not the receiver's own array
};

struct Options {
    std::string port; // empty: the built-in simulator
    int baud = 9600;
    bool autoBaud = false;    // --baud auto: find the receiver's speed (and mode) first
    bool nmeaCommand = false; // the command speaks NMEA, not the binary protocol
    double timeout = 0; // seconds a transfer may take at most; 0: no limit
    bool verbose = false;
    halvexsim::Config simulator;
    int simulatorTrackPoints = 300;
};

// Progress of a transfer: points so far and points announced (0 if unknown).
using ProgressFn = std::function<void(int done, int total)>;

// The built-in simulator, serving on a pseudo-terminal of its own.
class BuiltInReceiver {
public:
    explicit BuiltInReceiver(const Options &options);
    ~BuiltInReceiver();
    BuiltInReceiver(const BuiltInReceiver &) = delete;
    BuiltInReceiver &operator=(const BuiltInReceiver &) = delete;
    const std::string &Device() const { return device_; }
    halvexsim::Receiver *Receiver() { return receiver_.get(); }

private:
    int master_ = -1;
    std::string device_;
    std::unique_ptr<halvexsim::Receiver> receiver_;
};

class Connection {
public:
    explicit Connection(const Options &options);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    const std::string &Device() const { return device_; }
    bool Simulated() const { return static_cast<bool>(simulator_); }
    halvexsim::Receiver *Simulator() { return simulator_ ? simulator_->Receiver() : nullptr; }

    // Identifies the receiver once; later calls give what was learnt.
    Product Identify();
    // tick runs every second while the receiver sends, which it does
    // without a word on how far it has got.
    std::vector<GpxPoint> DownloadWaypoints(const std::function<void()> &tick = nullptr);
    // Uploads: tick, if given, runs every second of the transfer (the
    // library says nothing of an upload's progress until its end).
    void UploadWaypoints(const std::vector<GpxPoint> &waypoints, const std::function<void()> &tick = nullptr);
    std::vector<GpxRoute> DownloadRoutes(const std::function<void()> &tick = nullptr);
    void UploadRoutes(const std::vector<GpxRoute> &routes, const std::function<void()> &tick = nullptr);
    std::vector<GpxTrackPoint> DownloadTrack(const ProgressFn &progress);
    void UploadTrack(const std::vector<GpxTrackPoint> &points, const std::function<void()> &tick = nullptr);

    // The receiver's clock (identified first); none when it keeps no clock
    // the library can read.
    std::optional<HostClock> ReadClock();

    // NMEA mode: every sentence to onSentence, until StopNmea.
    void StartNmea(std::function<void(const std::string &)> onSentence);
    void StopNmea();
    // Live position, in the mode the connection is in (binary: identified
    // first): every fix to onFix, until StopPosition.
    void StartPosition(std::function<void(const HostPosition &)> onFix);
    void StopPosition();
    // What has crossed the line since the port was opened; none once the
    // session is gone.
    std::optional<HostLineCounts> LineCounts() const;

    // Ends an NMEA command that heard no sentence: with what arrived
    // instead, when bytes did, else with nothing.
    [[noreturn]] void NoSentence(const std::string &nothing) const;

    // Whether the device went away (the library closed the session).
    bool Lost() const;
    [[noreturn]] void Disconnected() const;

    // Each completed with "*hh" and CR LF.
    void SendSentences(const std::vector<std::string> &sentences);
    // Text that carries its checksum already: as it is, with CR LF.
    void SendAsIs(const std::string &text);

private:
    void Identified();
    // Identifies the receiver if need be, starts the transfer and waits
    // for it; a refusal ends the command.
    // An upload of records by RunTransfer; its failure says how many of
    // them the receiver acknowledged.
    void RunUpload(const std::string &what, std::size_t records, const std::function<int32_t()> &start,
                   const std::function<void()> &tick);
    void RunTransfer(const std::string &what, const std::function<int32_t()> &start,
                     const std::function<void()> &tick = nullptr);
    // A download by its export, and what its callback collected.
    template <typename Init, typename Callback, typename Result>
    Result Download(const std::string &what, Init init, Callback callback, Result Rendezvous::*collected,
                    const std::function<void()> &tick);
    // An upload by its export of the items as host records (Element).
    template <typename Element, typename Item, typename Init>
    void Upload(const std::string &what, const std::vector<Item> &items, const std::string &records, Init init,
                const std::function<void()> &tick);
    [[noreturn]] void NoAnswer(const std::string &what);
    // An operation the library would not start, said as it gave its reason.
    [[noreturn]] void Refused(const std::string &what);
    // The end of a transfer that failed, said as the library gave its reason.
    [[noreturn]] void TransferFailed(const std::string &what, int32_t why);
    // Waits for the transfer under way; a failure, a lost line or --timeout
    // running out ends the command.
    void AwaitTransfer(const std::string &what, const std::function<void()> &tick = nullptr);

    Options options_;
    // --baud auto: the speed to open at, found by listening first.
    int FindSpeed();
    // Identification failed: what the line carries instead, in a sentence.
    std::string HeardInstead();

    std::string device_;
    std::unique_ptr<BuiltInReceiver> simulator_;
    PortSession *session_ = nullptr;
    bool identified_ = false;
    Product product_;
};

} // namespace halvex
