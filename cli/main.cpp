// halvex: move waypoints, routes and tracks between a GPS receiver and GPX
// files, watch its NMEA sentences, or try it all on the built-in simulator.
#include <CLI/CLI.hpp>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>

#include "commands/demo.h"
#include "commands/identify.h"
#include "commands/nmeawatch.h"
#include "commands/ports.h"
#include "commands/position.h"
#include "commands/transfer.h"
#include "gpx/fitting.h"
#include "gpx/gpx.h"
#include "gpx/output.h"
#include "options.h"
#include "receiver/connection.h"
#include "receiver/detect.h"
#include "receiver/receiverclock.h"
#include "terminal/errors.h"
#include "terminal/terminal.h"
#include "terminal/usage.h"

using namespace halvex;

namespace {

std::string DefaultDemoFolder()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[64];
    std::strftime(name, sizeof name, "halvex-demo-%Y%m%d-%H%M%S", &local);
    // In the temporary directory, not wherever the user happens to stand.
    const char *temporary = std::getenv("TMPDIR");
    return std::string(temporary && *temporary ? temporary : "/tmp") + "/" + name;
}

// What the command line asked for, filled as it parses.
struct Command {
    FitOptions fit;
    std::string log;
    bool json = false, raw = false;
    std::string output, input, folder;
    double seconds = 0;
    std::vector<std::string> kinds, sentences;
    PositionOptions position;
    std::string rollover = "auto";
    CLI::App *identify, *demo, *watch, *send, *ports, *position_, *time, *detect;
    bool probe = false;
    std::vector<std::string> devices;
    CLI::App *waypointsGet, *waypointsPut, *routesGet, *routesPut, *tracksGet, *tracksPut;
};

void AddGlobalOptions(CLI::App &app, Options &options, Command &command)
{
    app.add_option("--port", options.port,
                   "serial device of the receiver, e.g. /dev/ttyUSB0 (without --port: the built-in simulator)")
        ->check(Takes("a serial device such as /dev/ttyUSB0 (leave --port out for the built-in simulator)",
                      NotBlank));
    app.add_option_function<std::string>(
           "--baud",
           [&options](const std::string &value) {
               options.autoBaud = value == "auto";
               options.baud = options.autoBaud ? options.baud : std::atoi(value.c_str());
           },
           "line speed: 9600 for the binary protocol, 4800 for most NMEA talkers; 'auto' listens first and goes "
           "on at the speed found")
        ->default_str("9600")
        ->check(Takes("a whole number of bits per second, such as 4800 or 9600, or 'auto'",
                      [](const std::string &value) { return value == "auto" || WholeAboveZero(value); }));
    app.add_option("--timeout", options.timeout,
                   "give a transfer at most this many seconds (default: no limit; a transfer that makes no "
                   "progress for 12 s ends by itself)")
        ->check(Takes("a number of seconds above 0", NumberAboveZero));
    app.add_flag("--verbose", options.verbose, "say what is going on, on standard error");
    app.add_flag("--version", "print the versions of the tool and of the library it loaded");
    app.add_option("--name-width", command.fit.nameWidth,
                   "characters of a waypoint name the receiver keeps; names equal that far are made distinct "
                   "(default: what the receiver's waypoint type keeps; 0: names are sent whole)")
        ->check(Takes("a whole number of characters, 0 or more", WholeNotNegative));
    app.add_option("--log", command.log,
                   "write the library's diagnostics log to FILE (as HALVEX32_LOG=FILE does), for a bug report");
    app.add_flag("--keep-names", command.fit.keepNames,
                 "send names as they are, even if the receiver then keeps them as one");
    app.add_flag("--strict", command.fit.strict,
                 "send nothing when the receiver would not keep the file as it is (a name cut, a field dropped); "
                 "write no track whose dates would be moved past a GPS week rollover");
    app.add_flag("--renumber", command.fit.renumber,
                 "give a route whose <number> the receiver cannot keep (out of its range, or another's) the "
                 "lowest free number, and say which");
    app.add_flag("--allow-untimed", command.fit.allowUntimed,
                 "send track points without a <time> with the receiver's \"no time\" (else they are refused)");
    app.fallthrough();

    // The simulator's own options shape the built-in one (without --port).
    options.simulator.nmea.perSecond = 6; // a fix a second, six sentences to a fix
    halvexsim::AddOptions(app, options.simulator);
    app.add_option("--sim-track-points", options.simulatorTrackPoints, "points in the simulator's sample track")
        ->capture_default_str()
        ->group("Simulator (without --port; the groups below shape it too)");
    app.add_option("--sim-baud", options.simulator.lineBaud,
                   "the simulator's own line speed: at another --baud it is heard as garbage (0: any speed)")
        ->capture_default_str()
        ->group("Simulator (without --port; the groups below shape it too)");
}

// The simulator's options are many and of interest to few: --help leaves
// them to --help-sim.
bool SimulatorHelp(CLI::App &app, int argc, char **argv)
{
    bool wanted = std::find(argv + 1, argv + argc, std::string("--help-sim")) != argv + argc;
    app.add_flag("--help-sim", "show the options that shape the built-in simulator (used without --port)");
    if (wanted)
        return true;
    for (CLI::App *group : app.get_subcommands([](CLI::App *sub) { return sub->get_name().empty(); }))
        group->group("");
    app.get_option("--sim-track-points")->group("");
    app.get_option("--sim-baud")->group("");
    return false;
}

// A command's --help lists its own options; those of every command (--port,
// --baud, --strict ...) follow it, as they apply there too.
void ShowGlobalOptions(CLI::App &app, CLI::App *command = nullptr, std::string text = "")
{
    if (!command) {
        CLI::Formatter formatter;
        for (const CLI::Option *option : app.get_options())
            if (!option->get_group().empty() && option->get_name() != "--help" && option->get_name() != "--version" &&
                option->get_name() != "--help-sim")
                text += formatter.make_option(option, false);
        command = &app;
    }
    for (CLI::App *sub : command->get_subcommands([](CLI::App *s) { return !s->get_name().empty(); })) {
        sub->footer("\nOptions of every command:\n" + text);
        ShowGlobalOptions(app, sub, text);
    }
}

void AddCommands(CLI::App &app, Command &command)
{
    command.identify = app.add_subcommand("identify", "show the receiver's product id, software version and description");
    command.identify->add_flag("--json", command.json, "as JSON, for scripts");

    auto addTransfer = [&](const char *noun, CLI::App *&get, CLI::App *&put) {
        auto *sub = app.add_subcommand(noun, std::string("get or put ") + noun + " as GPX");
        sub->require_subcommand(1);
        get = sub->add_subcommand("get", std::string("download the receiver's ") + noun + " as GPX");
        get->add_option("-o,--output", command.output, "GPX file to write (standard output when not given)")
            ->check(Takes("a file name (leave -o out for standard output)", NotBlank));
        put = sub->add_subcommand("put", std::string("upload the ") + noun + " of a GPX file");
        put->add_option("file", command.input, "GPX file, or - for standard input")->required();
    };
    addTransfer("waypoints", command.waypointsGet, command.waypointsPut);
    addTransfer("routes", command.routesGet, command.routesPut);
    addTransfer("tracks", command.tracksGet, command.tracksPut);
    command.tracksGet
        ->add_option("--rollover", command.rollover,
                     "track dates of a receiver whose GPS week count rolled over: 'auto' moves the points it "
                     "recorded since, as its clock says; 0 keeps the receiver's dates; N moves every point N x 1024 "
                     "weeks forward")
        ->capture_default_str()
        ->check(Takes("'auto' or a whole number of 1024-week periods, such as 0 or 1",
                      [](const std::string &value) { return ParseRollover(value).has_value(); }));

    auto *nmea = app.add_subcommand("nmea", "NMEA 0183 mode");
    nmea->require_subcommand(1);
    command.watch = nmea->add_subcommand("watch", "show sentences as they arrive, flagging bad or missing checksums");
    command.watch->add_option("--seconds", command.seconds, "stop after this long (default: until Ctrl-C)")
        ->check(Takes("a number of seconds above 0", NumberAboveZero));
    command.watch->add_flag("--raw", command.raw, "the sentences alone, without time stamps, for a pipe");
    command.watch->add_option("--table", command.kinds, "show the latest sentence of each kind, e.g. GGA,RMC")
        ->delimiter(',');
    command.send = nmea->add_subcommand("send", "send sentences, each completed with its checksum and CR LF");
    command.send->add_option("sentence", command.sentences, "sentence to send, e.g. '$PHLVX,RESET'")->required();

    command.position_ = app.add_subcommand("position", "show where the receiver is, fix by fix");
    command.position_->add_flag("--nmea", command.position.nmea,
                                "from NMEA sentences at --baud (default: the receiver's position reports)");
    command.position_->add_option("--count", command.position.count, "stop after this many fixes")
        ->check(Takes("a whole number of fixes above 0", WholeAboveZero));
    command.position_->add_option("--seconds", command.position.seconds, "stop after this long (default: until Ctrl-C)")
        ->check(Takes("a number of seconds above 0", NumberAboveZero));
    command.position_->add_flag("--json", command.position.json, "one TPV object a line, as gpsd's clients read them");
    command.time = app.add_subcommand("time", "show the receiver's clock beside this computer's, and whether its "
                                              "dates have rolled over (GPS week rollover)");
    command.time->add_flag("--json", command.json, "as JSON, for scripts");
    command.ports = app.add_subcommand("ports", "list the serial ports of this machine, and whether they can be opened");
    command.ports->add_option("device", command.devices, "devices to look at besides the usual ones");
    command.ports->add_flag("--probe", command.probe,
                            "find out what is on each port (as detect does): listening, and the product request "
                            "at 9600 only where nothing but silence or frames was heard");
    command.detect = app.add_subcommand("detect", "find out what is on the port: which mode and which speed, in one "
                                                  "sentence (within 15 s)");
    command.detect->add_flag("--json", command.json, "as JSON, for scripts");
    command.demo = app.add_subcommand("demo", "a tour against the simulator: identify, upload, download to GPX, NMEA");
    command.demo->add_option("--out", command.folder,
                             "folder for the GPX files (default: halvex-demo-<date>-<time> in the temporary directory)");
}

int Nmea(Options options, const Command &command)
{
    options.simulator.nmea.enabled = true;
    options.simulator.nmea.held = true;
    if (command.send->parsed()) {
        std::vector<Sentence> sentences;
        for (const std::string &given : command.sentences)
            sentences.push_back(SentenceToSend(given)); // all checked before any is sent
        Connection connection(options);
        for (const Sentence &sentence : sentences) {
            if (sentence.complete)
                connection.SendAsIs(sentence.text);
            else
                connection.SendSentences({sentence.text});
        }
        return 0;
    }
    Connection connection(options);
    WatchOptions watch;
    watch.seconds = command.seconds;
    watch.timeout = options.timeout;
    watch.kinds = command.kinds;
    watch.raw = command.raw;
    watch.baud = options.baud;
    WatchNmea(connection, watch);
    return 0;
}

int RunDetect(const Options &options, bool json)
{
    std::unique_ptr<BuiltInReceiver> simulator;
    std::string port = options.port;
    if (port.empty()) {
        simulator = std::make_unique<BuiltInReceiver>(options);
        port = simulator->Device();
    }
    if (!json)
        Say("halvex: listening on " + port + " at 4800 to 115200 baud (up to 15 s)");
    Detection found = Detect(port);
    std::printf("%s\n", json ? found.Json().c_str() : found.Sentence().c_str());
    return found.Recognised() ? 0 : ExitNoAnswer;
}

int Run(Options options, const Command &command)
{
    options.nmeaCommand = command.watch->parsed() || command.send->parsed() ||
                          (command.position_->parsed() && command.position.nmea);
    if (command.ports->parsed())
        return ListPorts(command.devices, command.probe);
    if (command.detect->parsed())
        return RunDetect(options, command.json);
    if (options.port.empty() && !command.demo->parsed() && StderrIsTerminal())
        Say("halvex: no --port: using the built-in simulator");
    if (command.identify->parsed())
        return Identify(options, command.json);
    if (command.demo->parsed())
        return RunDemo(options, command.folder.empty() ? DefaultDemoFolder() : command.folder);
    if (command.watch->parsed() || command.send->parsed())
        return Nmea(options, command);
    if (command.position_->parsed())
        return Position(options, command.position);
    if (command.time->parsed())
        return ShowTime(options, command.json);
    if (command.waypointsPut->parsed() || command.routesPut->parsed() || command.tracksPut->parsed()) {
        FitOptions fit = command.fit;
        fit.upload = command.waypointsPut->parsed() ? Records::Waypoints
                     : command.routesPut->parsed()  ? Records::Routes
                                                    : Records::Tracks;
        return Upload(options, command.input, fit);
    }
    Records records = command.waypointsGet->parsed() ? Records::Waypoints
                      : command.routesGet->parsed()  ? Records::Routes
                                                     : Records::Tracks;
    return Download(options, records, command.output, command.rollover, command.fit.strict);
}

// Options that mean nothing to the command given, which a user would
// expect to act: null when there is none.
const char *Pointless(const CLI::App &app, const Command &command)
{
    if (command.demo->parsed() && app.count("--port"))
        return "demo runs on the built-in simulator and takes no --port";
    if ((command.demo->parsed() || command.send->parsed()) && app.count("--timeout"))
        return "--timeout limits transfers, identification and nmea watch; this command waits for nothing";
    return nullptr;
}

// The tool's version, and the library's as the file that was loaded names
// it, so that a library installed apart from the tool shows.
int PrintVersion()
{
    Dl_info library{};
    std::string file = dladdr(reinterpret_cast<void *>(&OpenCommPort), &library) && library.dli_fname
                           ? library.dli_fname
                           : "";
    char *real = file.empty() ? nullptr : realpath(file.c_str(), nullptr);
    if (real) {
        file = real;
        std::free(real);
    }
    std::size_t so = file.rfind(".so.");
    std::string version = so == std::string::npos ? "unknown" : file.substr(so + 4);
    std::printf("halvex %s\nlibhalvex32 %s (%s)\n", HALVEX_VERSION, version.c_str(), file.c_str());
    return 0;
}

// Whatever a command wrote to standard output must have got there: output
// lost to a full disk is no success, whichever command wrote it.
int OutputWritten(int code)
{
    errno = 0;
    std::cout.flush();
    bool lost = std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout.good();
    if (!lost)
        return code;
    std::fprintf(stderr, "halvex: cannot write standard output: %s\n", std::strerror(errno ? errno : EIO));
    return code ? code : ExitFailure;
}

// The library reads HALVEX32_LOG as it loads, before main: the tool runs
// itself again with the variable set, unless it already has it.
void LogTo(const std::string &file, char **argv)
{
    char *full = realpath(file.c_str(), nullptr);
    std::string path = full ? full : file;
    std::free(full);
    if (!path.empty() && path[0] != '/') { // not there yet: made absolute by hand
        char *directory = getcwd(nullptr, 0);
        path = std::string(directory ? directory : ".") + "/" + path;
        std::free(directory);
    }
    const char *now = std::getenv("HALVEX32_LOG");
    if (now && path == now)
        return;
    std::string folder = path.substr(0, path.rfind('/') + 1);
    if (access(folder.c_str(), W_OK) != 0) {
        std::fprintf(stderr, "halvex: warning: no log is written: cannot write into %s (%s)\n", folder.c_str(),
                     std::strerror(errno));
        return;
    }
    setenv("HALVEX32_LOG", path.c_str(), 1);
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "halvex: cannot start again with the log on: %s\n", std::strerror(errno));
    std::exit(ExitFailure);
}

} // namespace

int main(int argc, char **argv)
{
    CLI::App app{"halvex: move waypoints, routes and tracks between a GPS receiver and GPX files, and watch its "
                 "NMEA sentences. Without --port, a simulated receiver with sample data is started in this process, "
                 "so every command works without hardware."};
    app.name("halvex");
    app.require_subcommand(1);
    Options options;
    Command command;
    AddGlobalOptions(app, options, command);
    if (SimulatorHelp(app, argc, argv)) {
        std::cout << app.help();
        return 0;
    }
    AddCommands(app, command);
    ShowGlobalOptions(app);
    for (int i = 1; i < argc; i++)
        if (std::string(argv[i]) == "--version")
            return PrintVersion();
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &help) {
        return app.exit(help);
    } catch (const CLI::ParseError &error) {
        // Every mistake in the command line is one sentence and 2.
        std::fprintf(stderr, "halvex: %s\n",
                     UsageSentence(app, error, std::vector<std::string>(argv + 1, argv + argc)).c_str());
        return ExitUsage;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "halvex: %s\n", error.what());
        return ExitUsage;
    }
    if (const char *mistake = Pointless(app, command)) {
        std::fprintf(stderr, "halvex: %s\n", mistake);
        return ExitUsage;
    }
    if (!command.log.empty())
        LogTo(command.log, argv);
    try {
        return OutputWritten(Run(options, command));
    } catch (const Failure &failure) {
        std::fprintf(stderr, "halvex: %s\n", failure.what());
        return failure.code();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "halvex: %s\n", error.what());
        return ExitFailure;
    }
}
