#include "options.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include <CLI/CLI.hpp>

namespace halvexsim {

std::optional<std::vector<ProtocolEntry>> ParseProtocols(const std::string &text)
{
    if (text == "none")
        return std::nullopt;
    std::vector<ProtocolEntry> entries;
    // Commas or blanks between the entries: "P000 L001 ..." is how halvex
    // identify shows an array.
    std::string separated = text;
    std::replace(separated.begin(), separated.end(), ',', ' ');
    std::stringstream list(separated);
    std::string item;
    while (list >> item) {
        bool number = item.size() >= 2 && item.size() <= 6 && std::isalpha(static_cast<unsigned char>(item[0])) &&
                      item.find_first_not_of("0123456789", 1) == std::string::npos;
        if (!number)
            throw CLI::ValidationError("--protocols", "each entry is a letter and a number, not '" + item + "'");
        unsigned long value = std::stoul(item.substr(1));
        if (value > 65535)
            throw CLI::ValidationError("--protocols", "'" + item + "' is beyond 65535");
        entries.emplace_back(item[0], static_cast<std::uint16_t>(value));
    }
    return entries;
}

void ApplyPreset(Config &config, const std::string &name)
{
    if (name != "modern")
        return;
    config.productId = 4260;
    config.softwareVersion = 520;
    config.description = "Halvex Trail 60 Software Version 5.20";
    config.protocols = ParseProtocols("P000,L001,A010,A100,D108,A201,D202,D108,D210,A301,D310,D301,A600,D600");
}

static void AddReceiverOptions(CLI::App &app, Config &config)
{
    auto *receiver = app.add_option_group("Receiver", "what the simulated receiver is and speaks");
    // First, so that the options below change what a preset set.
    receiver
        ->add_option_function<std::string>(
            "--preset", [&config](const std::string &name) { ApplyPreset(config, name); },
            "a receiver of this generation: 'classic' (D103 waypoints, D201 routes, D300 tracks; the default) or "
            "'modern' (D108 waypoints, D202 routes with D210 links, D310 track headers before D301 points)")
        ->check(CLI::IsMember({"classic", "modern"}));
    receiver->add_option("--product-id", config.productId, "product id the receiver reports")->capture_default_str();
    receiver->add_option("--software-version", config.softwareVersion, "software version, in hundredths")
        ->capture_default_str();
    receiver->add_option("--description", config.description, "product description")->capture_default_str();
    receiver->add_option_function<std::string>(
        "--protocols", [&config](const std::string &text) { config.protocols = ParseProtocols(text); },
        "protocol array to send after the product data, e.g. P000,L001,A100,D103,A201,D202 (or blanks between "
        "the entries); its D1xx, D20x "
        "and D30x entries set the waypoint, route header and track point types, a D21x after A201 links route "
        "waypoints and a D31x after A301 or A302 heads tracks; 'none' sends none (default "
        "P000,L001,A010,A100,D103,A201,D201,A300,D300,A600,D600)");
    receiver->add_option("--waypoint-type", config.waypointType, "waypoint data type when no protocol array says")
        ->capture_default_str();
    receiver->add_option("--route-type", config.routeHeaderType, "route header data type when no protocol array says")
        ->capture_default_str();
    receiver
        ->add_option("--week-rollovers", config.weekRollovers,
                     "the receiver's GPS week count has rolled over K times: its position reports, NMEA dates, clock "
                     "and the track log it starts with are K x 1024 weeks early (the log only after its first "
                     "quarter, where the receiver's week window ended)")
        ->capture_default_str()
        ->check(CLI::Range(0, 8));
    receiver->add_option("--pace-baud", config.baud, "pace output as a UART at this rate; 0 sends as fast as the line takes")
        ->capture_default_str();
}

static void AddPositionOptions(CLI::App &app, Config &config)
{
    auto *pvt = app.add_option_group("Position reports");
    pvt->add_option("--pvt-period", config.pvt.periodMs, "send a position report every N ms (0: never)")
        ->capture_default_str();
    pvt->add_option("--latitude", config.pvt.latitude, "degrees")->capture_default_str();
    pvt->add_option("--longitude", config.pvt.longitude, "degrees")->capture_default_str();
    pvt->add_option("--east", config.pvt.east, "east velocity, m/s")->capture_default_str();
    pvt->add_option("--north", config.pvt.north, "north velocity, m/s")->capture_default_str();
    pvt->add_option("--clock-seconds", config.pvt.seconds, "seconds of the receiver's clock")->capture_default_str();
    pvt->add_option("--clock-leap-seconds", config.pvt.leapSeconds, "seconds the receiver's clock runs ahead of UTC")
        ->capture_default_str();
    pvt->add_option("--clock-days", config.pvt.days, "days since 1989-12-31")->capture_default_str();
}

static void AddNmeaOptions(CLI::App &app, Config &config)
{
    auto *nmea = app.add_option_group("NMEA talker");
    nmea->add_flag("--nmea", config.nmea.enabled, "send NMEA 0183 sentences (GGA, RMC, GSA, GSV, ZDA, PHLVX)");
    nmea->add_flag_callback(
        "--text",
        [&config] {
            config.nmea.enabled = true;
            config.nmea.text = true;
        },
        "send plain lines of text that are not NMEA, as a receiver set to a text output does");
    nmea->add_option("--nmea-rate", config.nmea.perSecond, "sentences a second; 0 as fast as the line takes")
        ->capture_default_str();
    nmea->add_option("--nmea-count", config.nmea.count, "stop after this many sentences (0: never)");
    nmea->add_option_function<std::string>(
        "--nmea-file",
        [&config](const std::string &path) {
            try {
                config.nmea.replay = ReadSentenceFile(path);
            } catch (const std::runtime_error &error) {
                throw CLI::ValidationError("--nmea-file", error.what()); // a mistake of the command line
            }
            config.nmea.enabled = true;
        },
        "replay the sentences of this file, one a line, in a loop");
    nmea->add_flag_callback(
        "--nmea-live",
        [&config] {
            config.nmea.live = true;
            config.nmea.enabled = true;
        },
        "send one fix epoch (GGA, GSA, RMC, VTG) a second along the simulator's path, at the current UTC time");
}

static void AddFaultOptions(CLI::App &app, Config &config)
{
    auto *faults = app.add_option_group("Faults");
    Faults &f = config.faults;
    faults->add_option("--drop-nth", f.dropNth, "ignore the N-th frame received");
    faults->add_option("--drop-fraction", f.dropFraction, "ignore this share of frames received (0 to 1)")
        ->check(CLI::Range(0.0, 1.0));
    faults->add_option("--seed", f.seed, "seed for --drop-fraction, --corrupt-fraction and noise")->capture_default_str();
    faults->add_option("--corrupt-nth", f.corruptNth, "send the N-th frame with a bad checksum");
    faults->add_option("--corrupt-fraction", f.corruptFraction, "send this share of frames with a bad checksum (0 to 1)")
        ->check(CLI::Range(0.0, 1.0));
    faults->add_option("--resend-ms", f.resendMs, "wait N ms for an ACK before sending a frame again")
        ->capture_default_str()
        ->check(CLI::Range(1, 60000));
    faults->add_option("--mute-after", f.muteAfter, "send nothing after the N-th frame sent");
    faults->add_option("--nak-nth", f.nakNth, "answer the N-th frame received with a NAK");
    faults->add_option("--ack-delay", f.ackDelayMs, "wait N ms before acknowledging");
    faults->add_flag("--silent", f.silent, "never answer anything");
    faults->add_option("--silent-after", f.silentAfter, "answer nothing after the N-th frame received");
    faults->add_option("--noise", f.noiseBytes, "N bytes of line noise before every frame");
    faults->add_option("--chunk", f.chunkSize, "write in pieces of N bytes");
    faults->add_option("--hang-up-after", f.hangUpAfter, "hang up after the N-th frame received");
}

void AddOptions(CLI::App &app, Config &config)
{
    AddReceiverOptions(app, config);
    AddPositionOptions(app, config);
    AddNmeaOptions(app, config);
    AddFaultOptions(app, config);
}

} // namespace halvexsim
