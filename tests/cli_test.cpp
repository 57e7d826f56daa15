// The halvex tool, run as a user runs it, against the simulator built into
// it or against a halvex-sim process.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "gpx/gpx.h"
#include "pty.h"

namespace {

struct Outcome {
    int exit = -1;
    std::string out, err;
};

std::string Slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class Tool : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/halvex-cli-XXXXXX";
        directory = mkdtemp(pattern);
    }
    void TearDown() override
    {
        StopSimulator();
        std::system(("rm -rf " + directory).c_str());
    }
    void StopSimulator()
    {
        if (simulator > 0) {
            kill(simulator, SIGTERM);
            waitpid(simulator, nullptr, 0);
        }
        simulator = -1;
    }
    // Runs a shell command line with standard output and error to files.
    Outcome Shell(const std::string &command)
    {
        std::string out = directory + "/out", err = directory + "/err";
        int status = std::system(("cd " + directory + " && { " + command + "; } >" + out + " 2>" + err).c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
    }
    Outcome Halvex(const std::string &arguments) { return Shell(std::string(HALVEX_TOOL) + " " + arguments); }
    void Write(const std::string &name, const std::string &text) { std::ofstream(directory + "/" + name) << text; }
    std::string Path(const std::string &name) { return directory + "/" + name; }
    // Starts halvex-sim and returns the pseudo-terminal it serves.
    std::string StartSimulator(const std::string &arguments = "")
    {
        int pipeFds[2];
        EXPECT_EQ(pipe(pipeFds), 0);
        simulator = fork();
        if (simulator == 0) {
            dup2(pipeFds[1], STDOUT_FILENO);
            close(pipeFds[0]);
            execl("/bin/sh", "sh", "-c", (std::string("exec ") + HALVEX_SIM + " " + arguments).c_str(), nullptr);
            _exit(127);
        }
        close(pipeFds[1]);
        std::string path;
        char c;
        while (read(pipeFds[0], &c, 1) == 1 && c != '\n')
            path += c;
        close(pipeFds[0]);
        return path;
    }

    void RoundTrip(const std::string &port, const std::string &options);

    std::string directory;
    pid_t simulator = -1;
};

const char *const kSample = R"(<?xml version="1.0" encoding="UTF-8"?>
<gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1">
  <wpt lat="48.858370" lon="2.294481"><name>eiffel</name><cmt>Iron tower</cmt></wpt>
  <wpt lat="-22.951916" lon="-43.210487"><name>Redentor</name><cmt>a comment longer than a receiver keeps, by far</cmt></wpt>
  <wpt lat="35.658581" lon="139.745433"><name>TOKYOTOWER</name></wpt>
  <rte><name>Tour</name><cmt>three sights</cmt><number>5</number>
    <rtept lat="48.858370" lon="2.294481"><name>eiffel</name></rtept>
    <rtept lat="35.658581" lon="139.745433"><name>tokyo</name></rtept>
  </rte>
  <trk><name>t</name><trkseg>
    <trkpt lat="10.5" lon="20.25"><time>2024-05-01T12:00:00Z</time></trkpt>
    <trkpt lat="10.6" lon="20.35"><time>2024-05-01T12:00:05Z</time></trkpt>
  </trkseg><trkseg>
    <trkpt lat="10.7" lon="20.45"><time>2024-05-01T13:00:00Z</time></trkpt>
  </trkseg></trk>
</gpx>
)";

// The sample up to the receiver at port and back, kind by kind, into
// waypoints.gpx, routes.gpx and tracks.gpx.
void Tool::RoundTrip(const std::string &port, const std::string &options)
{
    Write("sample.gpx", kSample);
    for (const char *kind : {"waypoints", "routes", "tracks"}) {
        Outcome put = Halvex(options + " --port " + port + " " + kind + " put sample.gpx");
        EXPECT_EQ(put.exit, 0) << kind << ": " << put.err;
        Outcome get = Halvex("--port " + port + " " + kind + " get -o " + kind + ".gpx");
        EXPECT_EQ(get.exit, 0) << kind << ": " << get.err;
    }
}

TEST_F(Tool, IdentifiesTheSimulatedReceiver)
{
    Outcome text = Halvex("identify");
    EXPECT_EQ(text.exit, 0) << text.err;
    EXPECT_NE(text.out.find("Product id:       4242"), std::string::npos);
    EXPECT_NE(text.out.find("Protocols:        P000 L001 A010 A100 D103 A201 D201 A300 D300 A600 D600\n"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("Waypoints:        D103, names of 6 characters, comments of 40\n"), std::string::npos);
    Outcome json = Halvex("--product-id 77 --description 'Trail Pro' identify --json");
    EXPECT_EQ(json.exit, 0) << json.err;
    EXPECT_NE(json.out.find("\"product_id\": 77"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"description\": \"Trail Pro\""), std::string::npos);
    EXPECT_NE(json.out.find("\"ident_width\": 6"), std::string::npos);
    EXPECT_NE(json.out.find("\"route_link\": null"), std::string::npos) << "classic routes have no links";

    Outcome modern = Halvex("--preset modern identify --json");
    EXPECT_EQ(modern.exit, 0) << modern.err;
    nlohmann::json got = nlohmann::json::parse(modern.out);
    EXPECT_EQ(got["protocols"], nlohmann::json({"P000", "L001", "A010", "A100", "D108", "A201", "D202", "D108",
                                                 "D210", "A301", "D310", "D301", "A600", "D600"}));
    EXPECT_EQ(got["types"], nlohmann::json({{"waypoint", 108}, {"route_header", 202}, {"route_link", 210},
                                            {"track_header", 310}, {"track_point", 301}}));
    EXPECT_EQ(got["ident_width"], 51);
    EXPECT_EQ(got["comment_width"], 51);
    EXPECT_EQ(got["types_from"], "receiver");
}

// Names go at the width the receiver's waypoint type keeps, without any
// option: whole to a D108 or D110 receiver, six characters to a D103 one.
TEST_F(Tool, NamesGoAsLongAsTheReceiverKeepsThem)
{
    std::string forty(40, 'N');
    Write("long.gpx", "<gpx>\n<wpt lat=\"1\" lon=\"2\"><name>LONG NAME OF TWENTY</name></wpt>\n"
                      "<wpt lat=\"3\" lon=\"4\"><name>" + forty + "</name></wpt>\n</gpx>\n");
    // The array as identify shows it, blanks between its entries.
    for (const char *receiver : {"--preset modern", "--protocols 'P000 L001 A010 A100 D110'"}) {
        SCOPED_TRACE(receiver);
        std::string port = StartSimulator(receiver);
        Outcome put = Halvex("--port " + port + " waypoints put long.gpx");
        EXPECT_EQ(put.exit, 0) << put.err;
        EXPECT_EQ(put.err, "") << "nothing renamed";
        ASSERT_EQ(Halvex("--port " + port + " waypoints get -o back.gpx").exit, 0);
        halvex::Gpx back = halvex::ReadGpx(Path("back.gpx"));
        ASSERT_EQ(back.waypoints.size(), 2u);
        EXPECT_EQ(back.waypoints[0].name, "LONG NAME OF TWENTY");
        EXPECT_EQ(back.waypoints[1].name, forty);
        StopSimulator();
    }
    std::string port = StartSimulator();
    Outcome cut = Halvex("--port " + port + " waypoints put long.gpx");
    ASSERT_EQ(cut.exit, 0);
    EXPECT_EQ(cut.err, "halvex: 2 waypoints: <name> cut to 6 characters by this receiver (D103)\n");
    EXPECT_EQ(Halvex("--port " + port + " --strict waypoints put long.gpx").exit, 5) << "a cut is a change";
    ASSERT_EQ(Halvex("--port " + port + " waypoints get -o back.gpx").exit, 0);
    halvex::Gpx back = halvex::ReadGpx(Path("back.gpx"));
    ASSERT_EQ(back.waypoints.size(), 2u);
    EXPECT_EQ(back.waypoints[0].name, "LONG N");
    EXPECT_EQ(back.waypoints[1].name, "NNNNNN");
}

TEST_F(Tool, GpxRoundTripThroughOneSimulator)
{
    std::string port = StartSimulator();
    ASSERT_FALSE(port.empty());
    RoundTrip(port, "");
    halvex::Gpx waypoints = halvex::ReadGpx(Path("waypoints.gpx"));
    ASSERT_EQ(waypoints.waypoints.size(), 3u);
    EXPECT_EQ(waypoints.waypoints[0].name, "EIFFEL");
    EXPECT_EQ(waypoints.waypoints[1].comment, "A COMMENT LONGER THAN A RECEIVER KEEPS,");
    EXPECT_EQ(waypoints.waypoints[2].name, "TOKYOT");
    EXPECT_NEAR(waypoints.waypoints[1].latitude, -22.951916, 1e-7);
    EXPECT_NEAR(waypoints.waypoints[2].longitude, 139.745433, 1e-7);

    halvex::Gpx routes = halvex::ReadGpx(Path("routes.gpx"));
    ASSERT_EQ(routes.routes.size(), 1u);
    EXPECT_EQ(routes.routes[0].number, 5);
    EXPECT_EQ(routes.routes[0].name, "TOUR") << "D201 keeps number and, in its comment, the name";
    EXPECT_EQ(routes.routes[0].points.size(), 2u);

    halvex::Gpx track = halvex::ReadGpx(Path("tracks.gpx"));
    ASSERT_EQ(track.trackPoints.size(), 3u);
    EXPECT_TRUE(track.trackPoints[0].startsSegment);
    EXPECT_FALSE(track.trackPoints[1].startsSegment);
    EXPECT_TRUE(track.trackPoints[2].startsSegment) << "segments go up and come back";

    // What came back goes up and back again unchanged, to the last digit.
    for (const char *kind : {"waypoints", "tracks"}) {
        std::string first = Path(std::string(kind) + ".gpx"), again = Path(std::string(kind) + "-again.gpx");
        EXPECT_EQ(Halvex("--port " + port + " " + kind + " put " + first).exit, 0);
        EXPECT_EQ(Halvex("--port " + port + " " + kind + " get -o " + again).exit, 0);
        std::ifstream a(first), b(again);
        std::string textA((std::istreambuf_iterator<char>(a)), {}), textB((std::istreambuf_iterator<char>(b)), {});
        EXPECT_EQ(textA, textB) << kind;
    }
    EXPECT_EQ(track.trackPoints[1].time, 1714564805.0);
    EXPECT_NEAR(track.trackPoints[2].latitude, 10.7, 1e-7);
}

// A receiver of variable-length waypoints keeps whole names and comments,
// links its route waypoints and heads its tracks: what went up comes back.
TEST_F(Tool, GpxRoundTripThroughALaterReceiver)
{
    std::string port = StartSimulator("--preset modern");
    ASSERT_FALSE(port.empty());
    RoundTrip(port, "--renumber"); // names go whole: the tool asks the library what the receiver keeps
    halvex::Gpx waypoints = halvex::ReadGpx(Path("waypoints.gpx"));
    ASSERT_EQ(waypoints.waypoints.size(), 3u);
    EXPECT_EQ(waypoints.waypoints[0].name, "EIFFEL");
    EXPECT_EQ(waypoints.waypoints[1].comment, "a comment longer than a receiver keeps, by far");
    EXPECT_EQ(waypoints.waypoints[2].name, "TOKYOTOWER");
    EXPECT_NEAR(waypoints.waypoints[1].latitude, -22.951916, 1e-7);

    halvex::Gpx routes = halvex::ReadGpx(Path("routes.gpx"));
    ASSERT_EQ(routes.routes.size(), 1u);
    EXPECT_EQ(routes.routes[0].name, "Tour") << "D202 keeps the route's name";
    ASSERT_EQ(routes.routes[0].points.size(), 2u);
    EXPECT_EQ(routes.routes[0].points[1].name, "TOKYO");

    halvex::Gpx track = halvex::ReadGpx(Path("tracks.gpx"));
    ASSERT_EQ(track.trackPoints.size(), 3u);
    EXPECT_TRUE(track.trackPoints[0].startsSegment);
    EXPECT_EQ(track.trackPoints[1].time, 1714564805.0);
    EXPECT_NEAR(track.trackPoints[2].longitude, 20.45, 1e-7);
}

TEST_F(Tool, MalformedGpxIsRejectedWithItsPlaceAndNothingIsSent)
{
    std::string port = StartSimulator();
    Write("broken.gpx", "<gpx>\n  <wpt lat=\"1\" lon=\"2\">\n    <name>x</wpt>\n</gpx>\n");
    Outcome broken = Halvex("--port " + port + " waypoints put broken.gpx");
    EXPECT_EQ(broken.exit, 5);
    EXPECT_NE(broken.err.find("broken.gpx:3:"), std::string::npos) << broken.err;
    Write("far.gpx", "<gpx>\n<wpt lat=\"1\" lon=\"2\"/>\n<wpt lat=\"12\" lon=\"181.5\"/>\n</gpx>\n");
    Outcome far = Halvex("--port " + port + " waypoints put far.gpx");
    EXPECT_EQ(far.exit, 5);
    EXPECT_NE(far.err.find("far.gpx:3:1: longitude 181.5 is beyond 180 degrees"), std::string::npos) << far.err;
    Outcome get = Halvex("--port " + port + " waypoints get");
    EXPECT_EQ(get.exit, 0);
    EXPECT_EQ(get.out.find("<wpt"), std::string::npos) << "the receiver still holds nothing";
}

TEST_F(Tool, FailuresAreOneClearSentenceAndAnExitCode)
{
    Outcome missing = Halvex("--port /dev/halvex-none identify");
    EXPECT_EQ(missing.exit, 3);
    EXPECT_EQ(missing.err, "halvex: cannot open /dev/halvex-none: it does not exist\n");
    std::string port = StartSimulator();
    int holder = open(port.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0); // as another program holding the port would
    Outcome busy = Halvex("--port " + port + " identify");
    close(holder);
    EXPECT_EQ(busy.exit, 3);
    EXPECT_EQ(busy.err, "halvex: cannot open " + port + ": it is in use by another program\n");
    // Root opens anything: the user without permission is nobody.
    chmod(port.c_str(), 0600);
    Outcome denied = Shell("setpriv --reuid=65534 --regid=65534 --clear-groups " + std::string(HALVEX_TOOL) +
                           " --port " + port + " identify");
    if (getuid() == 0 && denied.exit != 126 && denied.exit != 127) {
        EXPECT_EQ(denied.exit, 3);
        EXPECT_EQ(denied.err, "halvex: cannot open " + port +
                                  ": permission denied (is the user in the dialout group?)\n");
    }
    Outcome silent = Halvex("--silent identify");
    EXPECT_EQ(silent.exit, 4);
    EXPECT_NE(silent.err.find("does not answer"), std::string::npos) << silent.err;
    Outcome limited = Halvex("--silent --timeout 1 identify");
    EXPECT_EQ(limited.exit, 4);
    EXPECT_NE(limited.err.find("was not identified within the 1 s of --timeout"), std::string::npos) << limited.err;
    Outcome usage = Halvex("waypoints");
    EXPECT_EQ(usage.exit, 2) << "a command line mistake";
    EXPECT_EQ(usage.err, "halvex: waypoints needs a command: get, put\n");
}

// Every mistake on the command line is one plain sentence and exit 2, and
// nothing quietly stands in for what the user named.
TEST_F(Tool, MistakesAreOnePlainSentence)
{
    const std::pair<const char *, const char *> mistakes[] = {
        {"--port '' identify", "--port takes a serial device such as /dev/ttyUSB0 (leave --port out for the built-in "
                               "simulator)"},
        {"--port ' ' waypoints put x.gpx", "--port takes a serial device such as /dev/ttyUSB0 (leave --port out for "
                                           "the built-in simulator)"},
        {"--baud abc identify", "--baud takes a whole number of bits per second, such as 4800 or 9600, or 'auto'"},
        {"--product-id abc identify", "--product-id takes a whole number, 0 or more"},
        {"--drop-fraction 2 identify", "--drop-fraction takes a number from 0 to 1"},
        {"waypoints put missing.gpx", "cannot read missing.gpx: no such file"},
        {"frob", "unknown command 'frob' (identify, waypoints, routes, tracks, nmea, position, time, ports, detect, demo)"},
        {"routes frob", "unknown command 'frob' of routes (get, put)"},
        {"--bogus identify", "unknown option --bogus (halvex --help lists them)"},
        {"--prot x identify", "unknown option --prot (did you mean --port?)"},
        {"identify --jsn", "unknown option --jsn (did you mean --json?)"},
        {"waypoints get -o a -o b", "--output given twice"},
        {"waypoints get -o ''", "--output takes a file name (leave -o out for standard output)"},
        {"--port /dev/ttyS0 demo", "demo runs on the built-in simulator and takes no --port"},
        {"nmea send ''", "nmea send: a sentence cannot be empty"},
        {"nmea send '$X*00'", "nmea send: the checksum of $X*00 is wrong: it would be *58"},
        {"--protocols P000,Dabc identify", "--protocols: each entry is a letter and a number, not 'Dabc'"},
    };
    for (const auto &[arguments, sentence] : mistakes) {
        Outcome outcome = Halvex(arguments);
        EXPECT_EQ(outcome.exit, 2) << arguments;
        EXPECT_EQ(outcome.err, std::string("halvex: ") + sentence + "\n") << arguments;
    }
    Outcome file = Halvex("--nmea-file /nonexistent identify");
    EXPECT_EQ(file.exit, 2) << "no exception escapes";
    EXPECT_NE(file.err.find("cannot read /nonexistent"), std::string::npos) << file.err;
    Outcome simulator = Shell(std::string(HALVEX_SIM) + " --nmea-file /nonexistent");
    EXPECT_EQ(simulator.exit, 2);
    EXPECT_EQ(simulator.err.find("terminate"), std::string::npos) << simulator.err;

    Outcome help = Halvex("--help");
    EXPECT_EQ(help.out.find("--preset"), std::string::npos) << "the simulator's options wait for --help-sim";
    EXPECT_NE(Halvex("--help-sim").out.find("--clock-leap-seconds INT=18 seconds the receiver"), std::string::npos);
    Outcome version = Halvex("--version");
    EXPECT_EQ(version.exit, 0);
    EXPECT_NE(version.out.find("halvex 1."), std::string::npos) << version.out;
    EXPECT_NE(version.out.find("libhalvex32 1."), std::string::npos) << "as the loaded library names itself";
    EXPECT_NE(Shell(std::string(HALVEX_SIM) + " --version").out.find("halvex-sim 1."), std::string::npos);
}

// The simulator is used only without --port, and on a terminal it says so.
TEST_F(Tool, TheSimulatorIsNamedOnATerminal)
{
    Outcome onTerminal = Shell("script -qec '" + std::string(HALVEX_TOOL) + " identify' /dev/null");
    EXPECT_EQ(onTerminal.exit, 0) << onTerminal.err;
    EXPECT_NE(onTerminal.out.find("halvex: no --port: using the built-in simulator"), std::string::npos)
        << onTerminal.out;
    EXPECT_EQ(Halvex("identify").err, "") << "not a terminal: nothing but data";
}

// Standard streams: GPX in from a pipe, sentences out to one.
TEST_F(Tool, GpxComesFromStandardInputAndSentencesGoOutBare)
{
    std::string port = StartSimulator("--nmea");
    Write("in.gpx", "<gpx><wpt lat=\"1\" lon=\"2\"><name>PIPED</name></wpt></gpx>");
    Outcome put = Shell("cat in.gpx | " + std::string(HALVEX_TOOL) + " --port " + port + " waypoints put -");
    EXPECT_EQ(put.exit, 0) << put.err;
    EXPECT_NE(Halvex("--port " + port + " waypoints get -o -").out.find("<name>PIPED</name>"), std::string::npos);
    Outcome raw = Halvex("--port " + port + " --baud 9600 nmea watch --raw --seconds 1.5");
    EXPECT_EQ(raw.exit, 0) << raw.err;
    EXPECT_EQ(raw.out.compare(0, 1, "$"), 0) << "a sentence, not a time stamp, starts each line: " << raw.out;
    StopSimulator();

    std::string quiet = StartSimulator(); // sends no sentences
    Outcome nothing = Halvex("--port " + quiet + " --timeout 1 nmea watch");
    EXPECT_EQ(nothing.exit, 4);
    EXPECT_NE(nothing.err.find("no sentence came"), std::string::npos) << nothing.err;
}

// nmea send: "$" added where it is missing, the checksum over the right
// bytes; a sentence with its checksum goes as it is.
TEST_F(Tool, SentencesGoOutWithTheirChecksumOverTheRightBytes)
{
    Pty line;
    Outcome send = Halvex(std::string("--port ") + line.path() + " nmea send 'PHLVX,RESET' '$GPGLL,1*4D'");
    EXPECT_EQ(send.exit, 0) << send.err;
    std::string expected = "$PHLVX,RESET*23\r\n$GPGLL,1*4D\r\n";
    EXPECT_EQ(line.Receive(expected.size()), expected);
}

// halvex ports names the serial devices and which can be opened.
TEST_F(Tool, PortsAreListedWithWhetherTheyCanBeOpened)
{
    std::string link = Path("gps");
    std::string port = StartSimulator("--link " + link);
    Outcome free = Halvex("ports " + link + " " + Path("."));
    EXPECT_EQ(free.exit, 0);
    EXPECT_NE(free.out.find(link + " "), std::string::npos) << free.out;
    EXPECT_NE(free.out.find("serial port\n"), std::string::npos) << free.out;
    int holder = open(port.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_NE(Halvex("ports " + link).out.find("serial port, in use by another program"), std::string::npos);
    close(holder);
    EXPECT_EQ(Halvex("ports").exit, 0) << "this machine's own, whatever they are";
}

// A device that goes away ends the command at once, blamed on the line; more
// records than a transfer can carry are refused before anything is sent.
TEST_F(Tool, ADisconnectedReceiverAndAnOversizedFileAreSaidPlainly)
{
    auto start = std::chrono::steady_clock::now();
    Outcome gone = Halvex("--hang-up-after 12 tracks get");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(gone.exit, 3);
    EXPECT_NE(gone.err.find("was disconnected"), std::string::npos) << gone.err;

    std::string many = "<gpx>\n";
    for (int i = 0; i < 70000; i++)
        many += "<wpt lat=\"1\" lon=\"2\"/>\n";
    Write("many.gpx", many + "</gpx>\n");
    std::string port = StartSimulator();
    Outcome oversized = Halvex("--port " + port + " waypoints put many.gpx");
    EXPECT_EQ(oversized.exit, 5);
    EXPECT_NE(oversized.err.find("70000 waypoints; one transfer carries at most 65535"), std::string::npos)
        << oversized.err;
    Outcome get = Halvex("--port " + port + " waypoints get");
    EXPECT_EQ(get.out.find("<wpt"), std::string::npos) << "nothing was sent";

    // A track over the limit is refused at its first point beyond, before
    // the port is opened.
    std::string track = "<gpx><trk><trkseg>\n";
    for (int i = 0; i < 70000; i++)
        track += "<trkpt lat=\"1\" lon=\"2\"><time>2024-01-01T00:00:00Z</time></trkpt>\n";
    Write("track.gpx", track + "</trkseg></trk></gpx>\n");
    Outcome tooLong = Halvex("--port /nonexistent tracks put track.gpx");
    EXPECT_EQ(tooLong.exit, 5);
    EXPECT_EQ(tooLong.err, "halvex: track.gpx:65537:1: track point 65536 of 70000: one transfer carries at most 65535\n");
}

// GPX text is UTF-8; the receiver keeps ASCII, six characters of a name.
TEST_F(Tool, NamesArriveInTheReceiversLettersAndStayDistinct)
{
    Write("names.gpx", "<gpx>\n<wpt lat=\"47.37\" lon=\"8.54\"><name>Z\u00fcrich</name>"
                       "<cmt>Gro\u00dfm\u00fcnster \u2603</cmt></wpt>\n"
                       "<wpt lat=\"55.6\" lon=\"12.7\"><name>\u00d8resund</name></wpt>\n"
                       "<wpt lat=\"51.5\" lon=\"-0.07\"><name>TOWER1</name></wpt>\n"
                       "<wpt lat=\"51.5\" lon=\"-0.08\"><name>TOWER12</name></wpt>\n</gpx>\n");
    std::string port = StartSimulator();
    Outcome put = Halvex("--port " + port + " waypoints put names.gpx");
    EXPECT_EQ(put.exit, 0) << put.err;
    EXPECT_EQ(put.err, "halvex: TOWER12 is sent as TOWE01, the receiver keeping 6 characters of a name\n"
                       "halvex: 1 waypoint: <cmt> spelled in the receiver's letters (Gro\u00dfm\u00fcnster \u2603 -> "
                       "GROSSMUNSTER -)\n"
                       "halvex: 1 waypoint: <name> cut to 6 characters by this receiver (D103)\n"
                       "halvex: 2 waypoints: <name> spelled in the receiver's letters (Z\u00fcrich -> ZURICH, "
                       "\u00d8resund -> ORESUND)\n");
    ASSERT_EQ(Halvex("--port " + port + " waypoints get -o back.gpx").exit, 0);
    halvex::Gpx back = halvex::ReadGpx(Path("back.gpx"));
    ASSERT_EQ(back.waypoints.size(), 4u);
    EXPECT_EQ(back.waypoints[0].name, "ZURICH");
    EXPECT_EQ(back.waypoints[0].comment, "GROSSMUNSTER -") << "one replacement for the snowman's three bytes";
    EXPECT_EQ(back.waypoints[1].name, "ORESUN");
    EXPECT_EQ(back.waypoints[2].name, "TOWER1");
    EXPECT_EQ(back.waypoints[3].name, "TOWE01");

    ASSERT_EQ(Halvex("--port " + port + " --keep-names waypoints put names.gpx").exit, 0);
    ASSERT_EQ(Halvex("--port " + port + " waypoints get -o kept.gpx").exit, 0);
    // As the user asked: both went as TOWER1, which the receiver keeps as one,
    // the later replacing the earlier and the one it held.
    halvex::Gpx kept = halvex::ReadGpx(Path("kept.gpx"));
    ASSERT_EQ(kept.waypoints.size(), 4u);
    EXPECT_EQ(kept.waypoints[2].name, "TOWER1");
    EXPECT_NEAR(kept.waypoints[2].longitude, -0.08, 1e-6);
    EXPECT_EQ(kept.waypoints[3].name, "TOWE01") << "held from the upload before";
}

TEST_F(Tool, PipesCarryNoProgressNorColour)
{
    Outcome track = Halvex("--sim-track-points 2000 tracks get");
    EXPECT_EQ(track.exit, 0);
    EXPECT_EQ(track.err, "");
    EXPECT_EQ(track.out.find('\033'), std::string::npos);
    size_t points = 0;
    for (size_t at = track.out.find("<trkpt"); at != std::string::npos; at = track.out.find("<trkpt", at + 1))
        points++;
    EXPECT_EQ(points, 2000u);
    Outcome watch = Halvex("nmea watch --seconds 1.5");
    EXPECT_EQ(watch.exit, 0);
    EXPECT_EQ(watch.out.find('\033'), std::string::npos);
    EXPECT_NE(watch.out.find("  $GPGGA,"), std::string::npos) << watch.out;
    EXPECT_EQ(watch.out.find("[bad checksum]"), std::string::npos) << watch.out;
    Outcome table = Halvex("nmea watch --seconds 1.5 --table GGA,RMC");
    EXPECT_NE(table.out.find("GGA "), std::string::npos);
    EXPECT_EQ(table.out.find('\033'), std::string::npos);
}

// The library's log, on for one run without a rebuild; off otherwise.
TEST_F(Tool, LogGoesWhereTheUserSaysAndNowhereElse)
{
    std::string quiet = Path("tmp");
    mkdir(quiet.c_str(), 0700);
    Outcome plain = Shell("TMPDIR=" + quiet + " " + HALVEX_TOOL + " identify");
    EXPECT_EQ(plain.exit, 0);
    Outcome logged = Shell("TMPDIR=" + quiet + " " + HALVEX_TOOL + " --log run.log identify");
    EXPECT_EQ(logged.exit, 0) << logged.err;
    EXPECT_EQ(Shell("ls -A " + quiet).out, "") << "no log unless asked for";
    std::string log = Slurp(Path("run.log"));
    EXPECT_NE(log.find("Error logging started for halvex32\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Product data received\n"), std::string::npos);
}

// Root writes anything: an ordinary user's rights are nobody's. Runs the
// tool as nobody where this test runs as root, else as the user it is.
std::string AsOrdinaryUser() { return getuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : ""; }

std::string Mode(const std::string &path)
{
    struct stat status;
    if (lstat(path.c_str(), &status) != 0)
        return "missing";
    char text[16];
    std::snprintf(text, sizeof text, "%o", static_cast<unsigned>(status.st_mode));
    return text;
}

// -o replaces a plain file in one step, keeping its mode; refuses what the
// user may not write; writes through links, FIFOs and devices without
// replacing them; and says so before a download, not after it.
TEST_F(Tool, OutputFilesAreReplacedWithCareOrWrittenWhereTheyAre)
{
    Write("private.gpx", "old");
    chmod(Path("private.gpx").c_str(), 0600);
    ASSERT_EQ(Halvex("waypoints get -o private.gpx").exit, 0);
    EXPECT_EQ(Mode(Path("private.gpx")), "100600");
    EXPECT_NE(Slurp(Path("private.gpx")).find("<wpt"), std::string::npos);

    ASSERT_EQ(symlink("private.gpx", Path("link.gpx").c_str()), 0);
    ASSERT_EQ(Halvex("routes get -o link.gpx").exit, 0);
    EXPECT_EQ(Mode(Path("link.gpx")).substr(0, 3), "120") << "still a link";
    EXPECT_NE(Slurp(Path("private.gpx")).find("<rte"), std::string::npos) << "its target written";

    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    Outcome fifo = Shell("{ cat fifo > from-fifo & } ; " + std::string(HALVEX_TOOL) + " waypoints get -o fifo; wait");
    EXPECT_EQ(fifo.exit, 0) << fifo.err;
    EXPECT_EQ(Mode(Path("fifo")), "10600") << "never replaced";
    EXPECT_NE(Slurp(Path("from-fifo")).find("<wpt"), std::string::npos);

    if (getuid() == 0 && mknod(Path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        std::string before = Mode(Path("null"));
        EXPECT_EQ(Halvex("waypoints get -o null").exit, 0);
        EXPECT_EQ(Mode(Path("null")), before) << "a device stays a device";
    }

    Write("readonly.gpx", "mine");
    chmod(Path("readonly.gpx").c_str(), 0444);
    chmod(directory.c_str(), 0777);
    Outcome refused = Shell(AsOrdinaryUser() + HALVEX_TOOL + " waypoints get -o readonly.gpx");
    if (refused.exit != 126 && refused.exit != 127) {
        EXPECT_EQ(refused.exit, 1);
        EXPECT_NE(refused.err.find("cannot write readonly.gpx"), std::string::npos) << refused.err;
        EXPECT_EQ(Slurp(Path("readonly.gpx")), "mine");
        EXPECT_EQ(Mode(Path("readonly.gpx")), "100444");
    }

    auto start = std::chrono::steady_clock::now();
    Outcome nowhere = Halvex("--sim-track-points 20000 tracks get -o missing/t.gpx");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "refused before the download";
    EXPECT_EQ(nowhere.exit, 1);
    EXPECT_EQ(nowhere.err, "halvex: cannot write missing/t.gpx: no such directory\n");
}

// A download that ends short, or with nothing from a receiver that stopped
// answering or went away, fails and leaves the file as it was.
TEST_F(Tool, AFailedDownloadLeavesTheFileAsItWas)
{
    Write("t.gpx", "precious");
    Outcome silent = Halvex("--mute-after 3 tracks get -o t.gpx");
    EXPECT_EQ(silent.exit, 4) << silent.err;
    Outcome gone = Halvex("--hang-up-after 3 tracks get -o t.gpx");
    EXPECT_EQ(gone.exit, 3) << gone.err;
    EXPECT_EQ(Slurp(Path("t.gpx")), "precious");
}

// Track times the receiver cannot hold are refused before anything is sent,
// with where they stand in the file.
TEST_F(Tool, TrackTimesOutsideTheReceiversRangeAreRefused)
{
    const char *head = "<gpx>\n<trk><trkseg>\n";
    Write("early.gpx", std::string(head) + "<trkpt lat=\"1\" lon=\"2\"><time>1980-01-01T00:00:00Z</time></trkpt>\n"
                                           "</trkseg></trk></gpx>\n");
    Write("late.gpx", std::string(head) + "<trkpt lat=\"1\" lon=\"2\"><time>2200-01-01T00:00:00Z</time></trkpt>\n"
                                          "</trkseg></trk></gpx>\n");
    Write("untimed.gpx", std::string(head) + "<trkpt lat=\"1\" lon=\"2\"><time>2020-01-01T00:00:00Z</time></trkpt>\n"
                                             "<trkpt lat=\"1.5\" lon=\"2\"/>\n</trkseg></trk></gpx>\n");
    std::string port = StartSimulator(); // it holds nothing until something is sent
    Outcome early = Halvex("--port " + port + " tracks put early.gpx");
    EXPECT_EQ(early.exit, 5);
    EXPECT_EQ(early.err, "halvex: early.gpx:3:1: the time 1980-01-01T00:00:00Z is outside what a receiver can date "
                         "(1989-12-31 to 2126-02-06)\n");
    EXPECT_EQ(Halvex("--port " + port + " tracks put late.gpx").exit, 5);
    Outcome untimed = Halvex("--port " + port + " tracks put untimed.gpx");
    EXPECT_EQ(untimed.exit, 5);
    EXPECT_NE(untimed.err.find("untimed.gpx:4:1: the track point has no <time>"), std::string::npos) << untimed.err;
    EXPECT_EQ(Halvex("--port " + port + " tracks get").out.find("<trkpt"), std::string::npos) << "nothing sent";

    // Under --strict, any change the receiver would make sends nothing.
    Write("fraction.gpx", std::string(head) + "<trkpt lat=\"1\" lon=\"2\"><time>2020-01-01T00:00:00.5Z</time>"
                                              "</trkpt>\n</trkseg></trk></gpx>\n");
    Outcome strict = Halvex("--port " + port + " --strict tracks put fraction.gpx");
    EXPECT_EQ(strict.exit, 5);
    EXPECT_EQ(strict.err, "halvex: 1 track point: fractions of a second not kept by this receiver (D300)\n"
                          "halvex: --strict: nothing sent, as the receiver would not keep the file as it is\n");
    EXPECT_EQ(Halvex("--port " + port + " tracks get").out.find("<trkpt"), std::string::npos) << "nothing sent";

    Outcome allowed = Halvex("--port " + port + " --allow-untimed tracks put untimed.gpx");
    EXPECT_EQ(allowed.exit, 0) << allowed.err;
    EXPECT_EQ(allowed.err, "halvex: 1 track point: sent without a time\n");
    halvex::Gpx back = halvex::ReadGpx(Path("untimed.gpx"));
    ASSERT_EQ(Halvex("--port " + port + " tracks get -o back.gpx").exit, 0);
    back = halvex::ReadGpx(Path("back.gpx"));
    ASSERT_EQ(back.trackPoints.size(), 2u);
    EXPECT_TRUE(back.trackPoints[0].timed);
    EXPECT_FALSE(back.trackPoints[1].timed) << "comes back without a time, as it went";
}

TEST_F(Tool, OptionValuesOutOfRangeAreUsageErrors)
{
    for (const char *arguments : {"--name-width -1 identify", "--timeout 0 identify", "--timeout -3 identify",
                                  "nmea watch --seconds 0"})
        EXPECT_EQ(Halvex(arguments).exit, 2) << arguments;
}

// A file of every kind through a receiver at a real receiver's pace: what
// comes back is what went up, but for what the receiver type cannot keep,
// and each such loss is said.
TEST_F(Tool, APacedRoundTripKeepsTracksRoutesAndNamesOrSaysWhatItLost)
{
    Write("all.gpx", R"(<gpx>
<wpt lat="1" lon="2"><ele>5</ele></wpt>
<wpt lat="3" lon="4"><name>HOME</name></wpt>
<wpt lat="5" lon="6"><name>HOME</name></wpt>
<rte><name>first</name><rtept lat="3" lon="4"><name>HOME</name></rtept></rte>
<rte><name>second</name><number>1</number><rtept lat="5" lon="6"><name>HOME</name></rtept></rte>
<rte><name>third</name><rtept lat="1" lon="2"/></rte>
<trk><name>a</name><trkseg><trkpt lat="1" lon="1"><time>2024-05-01T12:00:00Z</time></trkpt>
<trkpt lat="1.1" lon="1"><time>2024-05-01T12:00:05Z</time></trkpt></trkseg>
<trkseg><trkpt lat="1.2" lon="1"><time>2024-05-01T12:10:00Z</time></trkpt></trkseg></trk>
<trk><trkseg><trkpt lat="2" lon="1"><time>2024-05-02T12:00:00Z</time></trkpt></trkseg>
<trkseg><trkpt lat="2.1" lon="1"><time>2024-05-02T12:00:01Z</time></trkpt></trkseg></trk>
</gpx>
)");
    std::string port = StartSimulator("--pace-baud 9600");
    Outcome waypoints = Halvex("--port " + port + " waypoints put all.gpx");
    EXPECT_EQ(waypoints.exit, 0) << waypoints.err;
    EXPECT_EQ(waypoints.err, "halvex: HOME is sent as HOME01, the receiver keeping 6 characters of a name\n"
                             "halvex: 1 waypoint: <ele> not kept by this receiver (D103)\n"
                             "halvex: 1 waypoint: no <name>, given one (WPT001 the last)\n");
    Outcome routes = Halvex("--port " + port + " routes put all.gpx");
    EXPECT_EQ(routes.exit, 0) << routes.err;
    EXPECT_EQ(routes.err, "halvex: 1 route point: no <name>, given one (WPT001 the last)\n"
                          "halvex: 3 routes: <name> upper-cased (first -> FIRST, second -> SECOND, ...)\n");
    Outcome tracks = Halvex("--port " + port + " tracks put all.gpx");
    EXPECT_EQ(tracks.exit, 0) << tracks.err;
    EXPECT_EQ(tracks.err,
              "halvex: 2 tracks sent as segments of one track log: this receiver keeps no track names (D300)\n");
    for (const char *kind : {"waypoints", "routes", "tracks"})
        ASSERT_EQ(Halvex("--port " + port + " " + kind + " get -o " + kind + ".gpx").exit, 0) << kind;

    halvex::Gpx w = halvex::ReadGpx(Path("waypoints.gpx"));
    ASSERT_EQ(w.waypoints.size(), 3u);
    EXPECT_EQ(w.waypoints[0].name, "WPT001");
    EXPECT_EQ(w.waypoints[1].name, "HOME");
    EXPECT_EQ(w.waypoints[2].name, "HOME01") << "the same name at another place is another waypoint";

    halvex::Gpx r = halvex::ReadGpx(Path("routes.gpx"));
    ASSERT_EQ(r.routes.size(), 3u);
    EXPECT_EQ(r.routes[0].number, 2) << "1 is the second route's own";
    EXPECT_EQ(r.routes[1].number, 1);
    EXPECT_EQ(r.routes[2].number, 3);
    EXPECT_EQ(r.routes[0].points[0].name, "HOME");
    EXPECT_EQ(r.routes[1].points[0].name, "HOME01");
    EXPECT_EQ(r.routes[2].points[0].name, "WPT001");

    halvex::Gpx t = halvex::ReadGpx(Path("tracks.gpx"));
    ASSERT_EQ(t.trackPoints.size(), 5u);
    std::vector<bool> starts;
    for (const auto &point : t.trackPoints)
        starts.push_back(point.startsSegment);
    EXPECT_EQ(starts, (std::vector<bool>{true, false, true, true, true})) << "every segment kept";
    EXPECT_EQ(halvex::IsoTime(t.trackPoints[4].time), "2024-05-02T12:00:01Z");
}

// Ten fixes in the issue's terms would take ten seconds a mode; three show
// the same: TPV objects a second apart, in true UTC, moving.
TEST_F(Tool, PositionShowsAMovingFixEachSecondInBothModes)
{
    for (const char *mode : {"", "--nmea "}) {
        SCOPED_TRACE(mode);
        Outcome run = Halvex(std::string("position ") + mode + "--json --count 3");
        ASSERT_EQ(run.exit, 0) << run.err;
        std::istringstream lines(run.out);
        std::vector<nlohmann::json> fixes;
        for (std::string line; std::getline(lines, line);)
            fixes.push_back(nlohmann::json::parse(line));
        ASSERT_EQ(fixes.size(), 3u) << run.out;
        std::time_t now = std::time(nullptr);
        for (size_t i = 0; i < fixes.size(); i++) {
            EXPECT_EQ(fixes[i]["class"], "TPV");
            EXPECT_EQ(fixes[i]["mode"], 3);
            std::string time = fixes[i]["time"];
            ASSERT_EQ(time.size(), 24u) << time; // 2026-12-08T10:15:30.000Z
            std::tm utc{};
            strptime(time.c_str(), "%Y-%m-%dT%H:%M:%S", &utc);
            std::time_t at = timegm(&utc);
            EXPECT_LE(std::labs(static_cast<long>(now - at)), 3L) << time << " is not now, UTC";
            if (i > 0) {
                std::tm before{};
                strptime(fixes[i - 1]["time"].get<std::string>().c_str(), "%Y-%m-%dT%H:%M:%S", &before);
                EXPECT_EQ(at - timegm(&before), 1);
                EXPECT_TRUE(fixes[i]["lat"] != fixes[i - 1]["lat"] || fixes[i]["lon"] != fixes[i - 1]["lon"])
                    << "the simulator moves";
            }
            EXPECT_NEAR(fixes[i]["speed"].get<double>(), 10.0, 0.1);
        }
        EXPECT_EQ(fixes[0].contains("climb"), std::string(mode).empty()) << "NMEA gives no climb";
    }
    EXPECT_EQ(Halvex("position --count 0").exit, 2);
}

// Neither a receiver that goes away nor fixes that cannot be written end as
// a success, nor as a receiver with no fix.
TEST_F(Tool, PositionSaysALostReceiverAndLostOutput)
{
    auto start = std::chrono::steady_clock::now();
    Outcome gone = Halvex("--hang-up-after 10 position");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(gone.exit, 3);
    EXPECT_NE(gone.err.find("was disconnected"), std::string::npos) << gone.err;

    Outcome full = Halvex("position --json --count 2 >/dev/full");
    EXPECT_EQ(full.exit, 1);
    EXPECT_EQ(full.err, "halvex: cannot write standard output: No space left on device\n");
}

TEST_F(Tool, PositionWithoutFixesEndsAfterTwelveSeconds)
{
    Write("satellites.nmea", "$GPGSV,2,1,08,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45*75\n");
    std::string port = StartSimulator("--nmea-file " + Path("satellites.nmea"));
    Outcome run = Halvex("--port " + port + " position --nmea");
    EXPECT_EQ(run.exit, 4);
    EXPECT_EQ(run.err, "halvex: no fix came from " + port + " for 12 s\n");
    Outcome bounded = Halvex("--port " + port + " --timeout 1.5 position --nmea");
    EXPECT_EQ(bounded.exit, 4);
    EXPECT_EQ(bounded.err, "halvex: no fix came from " + port + " for 1.5 s\n");
}

TEST_F(Tool, NmeaSendAddsTheChecksum)
{
    Outcome send = Halvex("nmea send '$GPGLL,1' '$PHLVX,RESET'");
    EXPECT_EQ(send.exit, 0) << send.err;
}

TEST_F(Tool, DemoWritesGpxThatAnotherReaderAgreesWith)
{
    Outcome demo = Halvex("demo --out tour");
    ASSERT_EQ(demo.exit, 0) << demo.err;
    EXPECT_NE(demo.err.find("Done in"), std::string::npos);
    for (const char *file : {"waypoints.gpx", "routes.gpx", "track.gpx"}) {
        std::string path = Path(std::string("tour/") + file);
        halvex::Gpx ours = halvex::ReadGpx(path);
        // Debian's python3-gpxpy, an independent reader, must see the same points.
        Outcome theirs = Shell("/usr/bin/python3 -c \"import gpxpy,sys; g=gpxpy.parse(open('" + path +
                           "')); pts=[(p.latitude,p.longitude) for p in g.waypoints]+[(p.latitude,p.longitude) "
                           "for r in g.routes for p in r.points]+[(p.latitude,p.longitude) for t in g.tracks for s "
                           "in t.segments for p in s.points]; print(g.version, len(pts)); "
                           "[print('%.9f %.9f' % p) for p in pts]\"");
        ASSERT_EQ(theirs.exit, 0) << theirs.err;
        std::ostringstream expected;
        size_t count = ours.waypoints.size() + ours.trackPoints.size();
        for (const auto &route : ours.routes)
            count += route.points.size();
        expected << "1.1 " << count << "\n";
        char line[64];
        for (const auto &p : ours.waypoints)
            std::snprintf(line, sizeof line, "%.9f %.9f\n", p.latitude, p.longitude), expected << line;
        for (const auto &route : ours.routes)
            for (const auto &p : route.points)
                std::snprintf(line, sizeof line, "%.9f %.9f\n", p.latitude, p.longitude), expected << line;
        for (const auto &p : ours.trackPoints)
            std::snprintf(line, sizeof line, "%.9f %.9f\n", p.latitude, p.longitude), expected << line;
        EXPECT_EQ(theirs.out, expected.str()) << file;
        EXPECT_GT(count, 2u) << file;
    }
}

} // namespace

namespace {

constexpr long kRolloverSeconds = 1024L * 7 * 86400;

long SecondsAgo(double unixSeconds) { return std::lround(static_cast<double>(std::time(nullptr)) - unixSeconds); }

std::string TrackLog(const std::vector<std::string> &times)
{
    std::string text = "<gpx>\n<trk><trkseg>\n";
    for (const std::string &time : times)
        text += "<trkpt lat=\"1\" lon=\"2\"><time>" + time + "</time></trkpt>\n";
    return text + "</trkseg></trk></gpx>\n";
}

std::string IsoAgo(long seconds) { return halvex::IsoTime(static_cast<double>(std::time(nullptr) - seconds)); }

} // namespace

// A receiver whose week count rolled over: its clock, its fixes and its
// track log given their true dates, and each move said.
TEST_F(Tool, TheReceiversClockAndItsRollover)
{
    Outcome onTime = Halvex("time");
    ASSERT_EQ(onTime.exit, 0) << onTime.err;
    EXPECT_NE(onTime.out.find(": the receiver's date is right; "), std::string::npos) << onTime.out;
    Outcome behind = Halvex("--week-rollovers 1 time");
    ASSERT_EQ(behind.exit, 0) << behind.err;
    EXPECT_EQ(behind.out.substr(0, 9), "receiver ");
    EXPECT_NE(behind.out.find(" UTC: the receiver is 1024 weeks behind (GPS week rollover); halvex corrects its "
                              "fixes and track times\n"),
              std::string::npos)
        << behind.out;
    nlohmann::json json = nlohmann::json::parse(Halvex("--week-rollovers 2 time --json").out);
    EXPECT_EQ(json["weeks_behind"], 2048);
    EXPECT_LE(std::labs(json["offset_seconds"].get<long>()), 2L);

    Outcome none = Halvex("--protocols P000,L001,A100,D103 time");
    EXPECT_EQ(none.exit, 4);
    EXPECT_NE(none.err.find("keeps no clock"), std::string::npos) << none.err;

    Outcome fixes = Halvex("--week-rollovers 1 position --json --count 3");
    ASSERT_EQ(fixes.exit, 0) << fixes.err;
    std::istringstream lines(fixes.out);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        std::tm utc{};
        strptime(nlohmann::json::parse(line)["time"].get<std::string>().c_str(), "%Y-%m-%dT%H:%M:%S", &utc);
        EXPECT_LE(std::labs(SecondsAgo(static_cast<double>(timegm(&utc)))), 3L) << line;
    }
    EXPECT_EQ(count, 3);
    EXPECT_EQ(fixes.err, "halvex: the receiver's date is 1024 weeks behind (GPS week rollover); its fixes are moved "
                         "forward\n");
    EXPECT_EQ(Halvex("position --json --count 1").err, "") << "a receiver on time: nothing said";
}

TEST_F(Tool, TrackDatesAcrossTheEndOfTheReceiversWeekWindow)
{
    // The simulator's log: its first quarter recorded before the window
    // ended, the rest since, in the last half hour.
    Outcome moved = Halvex("--week-rollovers 1 tracks get -o t.gpx");
    ASSERT_EQ(moved.exit, 0) << moved.err;
    EXPECT_EQ(moved.err.find("halvex: 225 of 300 track points moved forward 1024 weeks (GPS week rollover): "), 0u)
        << moved.err;
    EXPECT_NE(moved.err.find("; --rollover 0 keeps the receiver's dates\n"), std::string::npos);
    halvex::Gpx track = halvex::ReadGpx(Path("t.gpx"));
    ASSERT_EQ(track.trackPoints.size(), 300u);
    for (std::size_t i = 0; i < track.trackPoints.size(); ++i) {
        long ago = SecondsAgo(track.trackPoints[i].time);
        EXPECT_TRUE(ago > 3600 - 10 && ago < 3600 + 1500 + 10) << "point " << i << " dated " << ago << " s ago";
        if (i > 0) {
            EXPECT_EQ(track.trackPoints[i].time - track.trackPoints[i - 1].time, 5) << "point " << i;
        }
    }

    Outcome kept = Halvex("--week-rollovers 1 tracks get --rollover 0 -o t0.gpx");
    ASSERT_EQ(kept.exit, 0) << kept.err;
    EXPECT_NE(kept.err.find("the receiver is 1024 weeks behind (GPS week rollover)"), std::string::npos) << kept.err;
    halvex::Gpx raw = halvex::ReadGpx(Path("t0.gpx"));
    // Each run's simulator records its log up to a moment before it starts.
    EXPECT_NEAR(raw.trackPoints[74].time, track.trackPoints[74].time, 5) << "recorded before: as it was";
    EXPECT_EQ(raw.trackPoints[75].time - raw.trackPoints[74].time, 5 - kRolloverSeconds) << "the jump back";

    Outcome strict = Halvex("--week-rollovers 1 --strict tracks get -o t2.gpx");
    EXPECT_EQ(strict.exit, 5);
    EXPECT_NE(strict.err.find("225 of 300 track points would be moved"), std::string::npos) << strict.err;
    EXPECT_FALSE(std::ifstream(Path("t2.gpx")).good()) << "no file written";

    // A receiver without a clock is judged by its first position report.
    Outcome reported = Halvex("--week-rollovers 1 --protocols P000,L001,A010,A100,D103,A300,D300 tracks get");
    ASSERT_EQ(reported.exit, 0) << reported.err;
    EXPECT_EQ(reported.err.find("halvex: 225 of 300 track points moved forward 1024 weeks"), 0u) << reported.err;

    Outcome onTime = Halvex("tracks get -o t3.gpx");
    ASSERT_EQ(onTime.exit, 0);
    EXPECT_EQ(onTime.err, "") << "a receiver on time: nothing moved, nothing said";
}

TEST_F(Tool, TrackLogsGivenToAReceiverBehindAreMovedByItsClock)
{
    std::string port = StartSimulator("--week-rollovers 1");
    // Recorded since the window ended: dated up to the receiver's own today.
    Write("since.gpx", TrackLog({IsoAgo(kRolloverSeconds + 7200), IsoAgo(kRolloverSeconds + 3600)}));
    ASSERT_EQ(Halvex("--port " + port + " tracks put since.gpx").exit, 0);
    Outcome since = Halvex("--port " + port + " tracks get -o since-back.gpx");
    ASSERT_EQ(since.exit, 0) << since.err;
    EXPECT_NE(since.err.find("2 of 2 track points moved forward 1024 weeks"), std::string::npos) << since.err;
    halvex::Gpx back = halvex::ReadGpx(Path("since-back.gpx"));
    ASSERT_EQ(back.trackPoints.size(), 2u);
    EXPECT_NEAR(SecondsAgo(back.trackPoints[0].time), 7200, 5);
    EXPECT_NEAR(SecondsAgo(back.trackPoints[1].time), 3600, 5);

    // Later than the receiver's clock: only from before the window ended.
    Write("before.gpx", TrackLog({IsoAgo(kRolloverSeconds - 86400), IsoAgo(kRolloverSeconds - 2 * 86400)}));
    ASSERT_EQ(Halvex("--port " + port + " tracks put before.gpx").exit, 0);
    Outcome before = Halvex("--port " + port + " tracks get -o before-back.gpx");
    ASSERT_EQ(before.exit, 0) << before.err;
    EXPECT_EQ(before.err, "");
    EXPECT_EQ(halvex::ReadGpx(Path("before-back.gpx")).trackPoints[0].time,
              halvex::ReadGpx(Path("before.gpx")).trackPoints[0].time);

    // A fixed number of periods moves every point, whatever the clock says.
    Outcome fixed = Halvex("--port " + port + " tracks get --rollover 1 -o fixed.gpx");
    ASSERT_EQ(fixed.exit, 0) << fixed.err;
    EXPECT_NE(fixed.err.find("2 of 2 track points moved forward 1024 weeks"), std::string::npos) << fixed.err;
    EXPECT_EQ(Halvex("--port " + port + " tracks get --rollover soon").exit, 2);
}

namespace {

// A talker on a pseudo-terminal: what next() gives, every 250 ms, until it
// is stopped.
class PtyTalker {
public:
    explicit PtyTalker(std::function<std::string(int)> next) : next_(std::move(next))
    {
        thread_ = std::thread([this] {
            for (int i = 0; !stop_; ++i) {
                pty_.Send(next_(i));
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
            }
        });
    }
    ~PtyTalker()
    {
        stop_ = true;
        thread_.join();
    }
    const char *path() const { return pty_.path(); }

private:
    Pty pty_;
    std::function<std::string(int)> next_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A sentence ended by LF alone, as many USB receivers and programs that
// print NMEA send it.
std::string LfLine(const std::string &body)
{
    unsigned sum = 0;
    for (std::size_t i = 1; i < body.size(); ++i)
        sum ^= static_cast<unsigned char>(body[i]);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\n", sum);
    return body + tail;
}

// A fix epoch (GGA, RMC) of the current second, and one more each call.
std::string LfEpoch(int i)
{
    std::time_t now = std::time(nullptr) + i;
    std::tm utc{};
    gmtime_r(&now, &utc);
    char clock[16], date[16];
    std::strftime(clock, sizeof clock, "%H%M%S.00", &utc);
    std::strftime(date, sizeof date, "%d%m%y", &utc);
    return LfLine(std::string("$GPGGA,") + clock + ",5128.675,N,00000.093,W,1,08,0.9,45.0,M,47.0,M,,") +
           LfLine(std::string("$GPRMC,") + clock + ",A,5128.675,N,00000.093,W,0.5,90.0," + date + ",,");
}

} // namespace

TEST_F(Tool, NmeaLinesEndedByLineFeedAloneAreSentences)
{
    PtyTalker talker(LfEpoch);
    Outcome watch = Halvex(std::string("--port ") + talker.path() + " --baud 4800 nmea watch --raw --seconds 2");
    ASSERT_EQ(watch.exit, 0) << watch.err;
    EXPECT_NE(watch.out.find("$GPRMC,"), std::string::npos) << watch.out;
    EXPECT_EQ(watch.out.find("bad checksum"), std::string::npos) << watch.out;
    Outcome fixes = Halvex(std::string("--port ") + talker.path() + " --baud 4800 position --nmea --json --count 3");
    ASSERT_EQ(fixes.exit, 0) << fixes.err;
    EXPECT_EQ(std::count(fixes.out.begin(), fixes.out.end(), '\n'), 3) << fixes.out;
}

// Bytes that hold no sentence (a wrong speed, a receiver in its binary
// mode) are said as such, not as silence.
TEST_F(Tool, BytesWithoutASentenceAreSaidAsSuch)
{
    PtyTalker talker([](int) { return std::string("\x12\x55\xaa no dollar here \x01\n"); });
    for (const char *command : {" --timeout 2 nmea watch", " --timeout 2 position --nmea"}) {
        Outcome run = Halvex(std::string("--port ") + talker.path() + command);
        EXPECT_EQ(run.exit, 4) << command;
        EXPECT_EQ(run.err, "halvex: bytes arrive but no NMEA sentence: is --baud right?\n") << command;
    }
}

// Files that are not XML as XML is, and XML that is GPX all the same.
TEST_F(Tool, GpxIsReadAsXmlIs)
{
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const std::string wpt = "<wpt lat=\"1.5\" lon=\"2\"><name>";
    struct Bad {
        std::string text, where;
    } bads[] = {
        {head + "<gpx>\n" + wpt + "Caf&eacute;</name></wpt></gpx>\n", "x.gpx:3:33: the entity &eacute; is not one"},
        {head + "<!DOCTYPE gpx [<!ENTITY lol1 \"lol\"><!ENTITY lol2 \"&lol1;&lol1;\">]>\n<gpx>" + wpt +
             "&lol2;</name></wpt></gpx>\n",
         "x.gpx:2:51: the entity &lol1; is not one"},
        {head + "<gpx>\n" + wpt + "Caf\xFF</name></wpt></gpx>\n", "x.gpx:3:33: the byte 0xFF is not UTF-8"},
        {head + "<gpx>\n" + wpt + "A & B</name></wpt></gpx>\n", "x.gpx:3:32: not well-formed XML"},
    };
    for (const Bad &bad : bads) {
        Write("x.gpx", bad.text);
        Outcome read = Halvex("waypoints put x.gpx");
        EXPECT_EQ(read.exit, 5) << bad.text;
        EXPECT_EQ(read.err.find("halvex: " + bad.where), 0u) << read.err;
    }
    Write("ok.gpx", head + "<gpx:gpx xmlns:gpx=\"http://www.topografix.com/GPX/1/1\">\n"
                           "<gpx:wpt lat=\" 1.5 \" lon=\"2\"><gpx:name>Caf&#233; &amp; b&#xE9;</gpx:name></gpx:wpt>\n"
                           "<!-- & in a comment --><gpx:wpt lat=\"3\" lon=\"4\"><gpx:name><![CDATA[a&b]]></gpx:name>"
                           "</gpx:wpt></gpx:gpx>\n");
    halvex::Gpx gpx = halvex::ReadGpx(Path("ok.gpx"));
    ASSERT_EQ(gpx.waypoints.size(), 2u);
    EXPECT_EQ(gpx.waypoints[0].latitude, 1.5);
    EXPECT_EQ(gpx.waypoints[0].name, "Caf\xC3\xA9 & b\xC3\xA9");
    EXPECT_EQ(gpx.waypoints[1].name, "a&b");
    Outcome put = Halvex("waypoints put ok.gpx");
    EXPECT_EQ(put.exit, 0) << put.err;
}

// Exits that say what happened: output lost, a folder where a file or a
// device was due, a log that cannot be written.
TEST_F(Tool, ExitsTellTheTruth)
{
    for (const char *command : {"identify", "identify --json", "time", "waypoints get", "nmea watch --raw --seconds 1"}) {
        Outcome full = Shell(std::string(HALVEX_TOOL) + " " + command + " >/dev/full");
        EXPECT_EQ(full.exit, 1) << command;
        EXPECT_NE(full.err.find("cannot write standard output"), std::string::npos) << command << ": " << full.err;
    }
    Outcome folderPort = Halvex("--port /tmp identify");
    EXPECT_EQ(folderPort.exit, 3);
    EXPECT_EQ(folderPort.err, "halvex: cannot open /tmp: it is not a serial device\n");
    Outcome folderFile = Halvex("waypoints put /tmp");
    EXPECT_EQ(folderFile.exit, 2);
    EXPECT_EQ(folderFile.err, "halvex: cannot read /tmp: it is a directory\n");
    Outcome missing = Halvex("ports /nonexistent");
    EXPECT_NE(missing.out.find("/nonexistent"), std::string::npos);
    EXPECT_NE(missing.out.find("no such device"), std::string::npos) << missing.out;
    Write("file", "precious");
    Outcome demo = Halvex("demo --out file");
    EXPECT_EQ(demo.exit, 2);
    EXPECT_EQ(demo.err.find("halvex: --out file is a file, not a folder"), 0u) << demo.err;
    EXPECT_EQ(Slurp(Path("file")), "precious");
    Outcome log = Halvex("--log /nonexistent/folder/halvex.log identify");
    EXPECT_EQ(log.exit, 0) << log.err;
    EXPECT_NE(log.err.find("warning: no log is written"), std::string::npos) << log.err;
}

TEST_F(Tool, TheSimulatorKeepsUploadsAsAReceiverDoes)
{
    std::string port = StartSimulator();
    Write("a.gpx", "<gpx><wpt lat=\"1\" lon=\"2\"><name>ONE</name></wpt><wpt lat=\"3\" lon=\"4\"><name>TWO</name></wpt>"
                   "</gpx>");
    Write("b.gpx", "<gpx><wpt lat=\"5\" lon=\"6\"><name>TWO</name></wpt><wpt lat=\"7\" lon=\"8\"><name>NEW</name></wpt>"
                   "</gpx>");
    ASSERT_EQ(Halvex("--port " + port + " waypoints put a.gpx").exit, 0);
    ASSERT_EQ(Halvex("--port " + port + " waypoints put b.gpx").exit, 0);
    ASSERT_EQ(Halvex("--port " + port + " waypoints get -o held.gpx").exit, 0);
    halvex::Gpx held = halvex::ReadGpx(Path("held.gpx"));
    ASSERT_EQ(held.waypoints.size(), 3u) << "a new ident added, the same one replaced";
    EXPECT_EQ(held.waypoints[0].name, "ONE");
    EXPECT_EQ(held.waypoints[1].name, "TWO");
    EXPECT_NEAR(held.waypoints[1].latitude, 5, 1e-6);
    EXPECT_EQ(held.waypoints[2].name, "NEW");
}

TEST_F(Tool, TheSimulatorReplacesOnlyALinkOfItsOwn)
{
    Write("precious", "a user's file");
    Outcome refused = Shell(std::string(HALVEX_SIM) + " --link " + Path("precious"));
    EXPECT_EQ(refused.exit, 2);
    EXPECT_NE(refused.err.find("not replaced"), std::string::npos) << refused.err;
    EXPECT_EQ(Slurp(Path("precious")), "a user's file");
}

TEST_F(Tool, AFailedUploadSaysWhatTheReceiverAcknowledged)
{
    Write("two.gpx", "<gpx><wpt lat=\"1\" lon=\"2\"><name>ONE</name></wpt><wpt lat=\"3\" lon=\"4\"><name>TWO</name></wpt>"
                     "</gpx>");
    // Identification takes three frames, the records count a fourth: the
    // receiver hears the first waypoint and nothing after it.
    Outcome failed = Halvex("--silent-after 5 waypoints put two.gpx");
    EXPECT_EQ(failed.exit, 4);
    EXPECT_NE(failed.err.find("during the waypoint upload (1 of 2 records acknowledged)\n"), std::string::npos)
        << failed.err;
}

TEST_F(Tool, CtrlCDuringATransferSaysWhatWasDone)
{
    Outcome download = Shell(std::string(HALVEX_TOOL) + " --sim-track-points 2000 --pace-baud 9600 tracks get -o t.gpx"
                                                        " & sleep 2; kill -INT $!; wait $!");
    EXPECT_EQ(download.exit, 130);
    EXPECT_EQ(download.err.find("halvex: interrupted after "), 0u) << download.err;
    EXPECT_NE(download.err.find(" of 2000 points; nothing was written\n"), std::string::npos) << download.err;
    EXPECT_FALSE(std::ifstream(Path("t.gpx")).good());
}

TEST_F(Tool, EachCommandsHelpListsTheOptionsThatApplyToIt)
{
    for (const char *command : {"identify --help", "tracks get --help", "nmea watch --help"}) {
        Outcome help = Halvex(command);
        EXPECT_EQ(help.exit, 0) << command;
        for (const char *option : {"--port", "--baud", "--strict"})
            EXPECT_NE(help.out.find(option), std::string::npos) << command << " lacks " << option;
    }
    EXPECT_NE(Halvex("--help-sim").out.find("Usage: halvex "), std::string::npos);
}

TEST_F(Tool, JsonInOneStyleWithNumbersAsPreciseAsTheyMean)
{
    nlohmann::json identify = nlohmann::json::parse(Halvex("identify --json").out);
    for (const auto &[key, value] : identify.items())
        EXPECT_EQ(key.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos) << key;
    std::string fix = Halvex("position --json --count 1").out;
    nlohmann::json tpv = nlohmann::json::parse(fix);
    for (const char *key : {"lat", "lon", "altMSL", "speed", "track", "climb"}) {
        std::string number = tpv[key].dump();
        std::size_t point = number.find('.');
        std::size_t decimals = point == std::string::npos ? 0 : number.size() - point - 1;
        EXPECT_LE(decimals, std::string(key).size() == 3 ? 9u : 3u) << key << " " << number;
    }
}

// The completion needs bash alone, and offers every option the help lists.
TEST_F(Tool, CompletionOffersEveryOptionWithoutTheCompletionPackage)
{
    auto complete = [&](const std::string &words, int at) {
        return Shell("bash --norc --noprofile -c 'source " HALVEX_COMPLETION "; COMP_WORDS=(" + words +
                     "); COMP_CWORD=" + std::to_string(at) + "; _halvex; echo \"${COMPREPLY[*]}\"'");
    };
    Outcome all = complete("halvex --", 1);
    ASSERT_EQ(all.exit, 0) << all.err;
    std::string offered = " " + all.out;
    std::replace(offered.begin(), offered.end(), '\n', ' ');
    std::string help = Halvex("--help-sim").out;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        std::size_t dash = line.find("--");
        if (line.compare(0, 2, "  ") != 0 || dash == std::string::npos || dash > 6)
            continue;
        std::string option = line.substr(dash, line.find_first_of(" =", dash) - dash);
        EXPECT_NE(offered.find(" " + option + " "), std::string::npos) << option << " not offered";
    }
    EXPECT_EQ(complete("halvex --preset ''", 2).out, "classic modern\n");
    EXPECT_NE(complete("halvex tracks get --", 3).out.find("--rollover"), std::string::npos);
}

namespace {

const char *const kEveryField = R"(<?xml version="1.0" encoding="UTF-8"?>
<gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1" xmlns:h="urn:halvex32:gpx:1">
  <wpt lat="51.5" lon="-0.125"><ele>46.5</ele><name>CACHE1</name><cmt>under the bridge</cmt><sym>Geocache</sym>
    <extensions><h:depth>11.25</h:depth></extensions></wpt>
  <wpt lat="-33.75" lon="151.25"><name>PLAIN</name></wpt>
  <rte><name>Bridges</name>
    <rtept lat="51.5" lon="-0.125"><ele>46.5</ele><name>CACHE1</name><sym>Geocache Found</sym></rtept>
    <rtept lat="-33.75" lon="151.25"><name>PLAIN</name></rtept>
  </rte>
  <trk><name>Morning</name><trkseg>
    <trkpt lat="45" lon="7"><ele>120.5</ele><time>2026-12-01T08:00:00Z</time></trkpt>
    <trkpt lat="45.001" lon="7"><ele>121</ele><time>2026-12-01T08:00:05Z</time></trkpt>
  </trkseg></trk>
  <trk><name>Evening</name><trkseg>
    <trkpt lat="46" lon="7.5"><ele>300</ele><time>2026-12-01T18:00:00Z</time></trkpt>
  </trkseg></trk>
</gpx>
)";

} // namespace

// A later receiver keeps every element of the file: it comes back equal,
// element by element, and the tool has nothing to say.
TEST_F(Tool, EveryFieldGoesUpAndComesBackFromALaterReceiver)
{
    Write("every.gpx", kEveryField);
    std::string port = StartSimulator("--preset modern");
    for (const char *kind : {"waypoints", "routes", "tracks"}) {
        Outcome put = Halvex("--port " + port + " " + kind + " put every.gpx");
        EXPECT_EQ(put.exit, 0) << put.err;
        EXPECT_EQ(put.err, "") << kind << ": nothing lost, nothing said";
        ASSERT_EQ(Halvex("--port " + port + " " + kind + " get -o " + kind + ".gpx").exit, 0) << kind;
    }
    halvex::Gpx sent = halvex::ReadGpx(Path("every.gpx"));
    halvex::Gpx w = halvex::ReadGpx(Path("waypoints.gpx"));
    ASSERT_EQ(w.waypoints.size(), 2u);
    EXPECT_EQ(w.waypoints[0].name, "CACHE1");
    EXPECT_EQ(w.waypoints[0].comment, "under the bridge");
    EXPECT_EQ(w.waypoints[0].fields.elevation, 46.5);
    EXPECT_EQ(w.waypoints[0].fields.symbol, 8255);
    EXPECT_EQ(w.waypoints[0].fields.depth, 11.25);
    EXPECT_FALSE(w.waypoints[1].fields.elevation) << "an altitude not given stays not given";
    EXPECT_EQ(w.waypoints[1].fields.symbol, 18) << "the receiver's default symbol, which it holds";

    halvex::Gpx r = halvex::ReadGpx(Path("routes.gpx"));
    ASSERT_EQ(r.routes.size(), 1u);
    EXPECT_EQ(r.routes[0].name, "Bridges");
    EXPECT_FALSE(r.routes[0].number) << "D202 keeps no number";
    ASSERT_EQ(r.routes[0].points.size(), 2u);
    EXPECT_EQ(r.routes[0].points[0].fields.symbol, 8256);
    EXPECT_EQ(r.routes[0].points[0].fields.elevation, 46.5);

    halvex::Gpx t = halvex::ReadGpx(Path("tracks.gpx"));
    ASSERT_EQ(t.trackPoints.size(), sent.trackPoints.size());
    EXPECT_EQ(t.tracks, 2);
    for (size_t i = 0; i < t.trackPoints.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(t.trackPoints[i].time, sent.trackPoints[i].time);
        EXPECT_EQ(t.trackPoints[i].elevation, sent.trackPoints[i].elevation);
        EXPECT_EQ(t.trackPoints[i].startsTrack, sent.trackPoints[i].startsTrack);
        EXPECT_EQ(t.trackPoints[i].trackName, sent.trackPoints[i].trackName);
    }

    // And again: what came back goes up and back to the byte.
    for (const char *kind : {"waypoints", "routes", "tracks"}) {
        std::string first = Path(std::string(kind) + ".gpx"), again = Path(std::string(kind) + "-again.gpx");
        Outcome put = Halvex("--port " + port + " " + kind + " put " + first);
        EXPECT_EQ(put.err, "") << kind;
        ASSERT_EQ(Halvex("--port " + port + " " + kind + " get -o " + again).exit, 0);
        std::ifstream a(first), b(again);
        std::string textA((std::istreambuf_iterator<char>(a)), {}), textB((std::istreambuf_iterator<char>(b)), {});
        EXPECT_EQ(textA, textB) << kind;
    }
}

// A classic receiver keeps what D103, D201 and D300 hold and the tool says,
// a line a kind, what it did not; what it cannot hold at all is refused
// before anything is sent.
TEST_F(Tool, AClassicReceiverSaysWhatItDidNotKeepAndRefusesWhatItCannotHold)
{
    Write("every.gpx", kEveryField);
    std::string port = StartSimulator();
    Outcome waypoints = Halvex("--port " + port + " waypoints put every.gpx");
    EXPECT_EQ(waypoints.exit, 0) << waypoints.err;
    EXPECT_EQ(waypoints.err, "halvex: 1 waypoint: <cmt> upper-cased (under the bridge -> UNDER THE BRIDGE)\n"
                             "halvex: 1 waypoint: <ele> not kept by this receiver (D103)\n"
                             "halvex: 1 waypoint: <sym> not kept by this receiver (D103)\n"
                             "halvex: 1 waypoint: depth not kept by this receiver (D103)\n");
    Outcome routes = Halvex("--port " + port + " routes put every.gpx");
    EXPECT_EQ(routes.exit, 0) << routes.err;
    EXPECT_NE(routes.err.find("halvex: 1 route: <name> upper-cased (Bridges -> BRIDGES)\n"), std::string::npos)
        << routes.err;
    Outcome tracks = Halvex("--port " + port + " tracks put every.gpx");
    EXPECT_EQ(tracks.exit, 0) << tracks.err;
    EXPECT_EQ(tracks.err, "halvex: 2 tracks sent as segments of one track log: this receiver keeps no track names "
                          "(D300)\n"
                          "halvex: 3 track points: <ele> not kept by this receiver (D300)\n");
    ASSERT_EQ(Halvex("--port " + port + " routes get -o routes.gpx").exit, 0);
    halvex::Gpx r = halvex::ReadGpx(Path("routes.gpx"));
    ASSERT_EQ(r.routes.size(), 1u);
    EXPECT_EQ(r.routes[0].name, "BRIDGES") << "the D201 comment holds the route's name";
    EXPECT_EQ(r.routes[0].number, 1);

    // Numbers the header cannot hold, or given twice: refused at their line.
    Write("numbers.gpx", "<gpx>\n<rte><number>300</number><rtept lat=\"1\" lon=\"2\"/></rte>\n"
                         "<rte><number>44</number><rtept lat=\"1\" lon=\"2\"/></rte>\n"
                         "<rte>\n<number>44</number><rtept lat=\"1\" lon=\"2\"/></rte>\n</gpx>\n");
    std::string before = Halvex("--port " + port + " routes get").out;
    Outcome wide = Halvex("--port " + port + " routes put numbers.gpx");
    EXPECT_EQ(wide.exit, 5);
    EXPECT_EQ(wide.err, "halvex: numbers.gpx:2:6: route number 300 cannot be sent: this receiver numbers routes 0 "
                        "to 255 (D201) (--renumber gives it another)\n");
    Outcome renumbered = Halvex("--port " + port + " --renumber routes put numbers.gpx");
    EXPECT_EQ(renumbered.exit, 0) << renumbered.err;
    EXPECT_EQ(renumbered.err, "halvex: route number 300 is sent as 1\nhalvex: route number 44 is sent as 2\n"
                              "halvex: 3 route points: no <name>, given one (WPT001 the last)\n");
    Write("twice.gpx", "<gpx>\n<rte><number>44</number><rtept lat=\"1\" lon=\"2\"/></rte>\n"
                       "<rte>\n<number>44</number><rtept lat=\"1\" lon=\"2\"/></rte>\n</gpx>\n");
    EXPECT_EQ(Halvex("--port " + port + " routes put twice.gpx").err,
              "halvex: twice.gpx:4:1: route number 44 cannot be sent: another route has it (--renumber gives it "
              "another)\n");

    // A file with nothing of the kind asked sends nothing.
    before = Halvex("--port " + port + " routes get").out;
    Write("none.gpx", "<gpx><wpt lat=\"1\" lon=\"2\"/></gpx>\n");
    Outcome none = Halvex("--port " + port + " routes put none.gpx");
    EXPECT_EQ(none.exit, 5);
    EXPECT_EQ(none.err, "halvex: no routes in none.gpx; nothing sent\n");
    EXPECT_EQ(Halvex("--port " + port + " tracks put none.gpx").err, "halvex: no track points in none.gpx; nothing sent\n");
    EXPECT_EQ(Halvex("--port " + port + " routes get").out, before) << "the receiver's routes as they were";
}

// Finding the receiver: the mode and speed of what is on the line, in one
// sentence, within 15 s; each simulated receiver as a real one would be.
struct DetectCase {
    const char *simulator, *sentence;
    int exit;
};

class DetectEach : public Tool, public ::testing::WithParamInterface<DetectCase> {};

std::string DetectCaseName(const ::testing::TestParamInfo<DetectCase> &info)
{
    static const char *const names[] = {"Binary", "SecondRequest", "Nmea38400", "Text", "Noise", "Silent"};
    return names[info.index];
}

TEST_P(DetectEach, SaysWhatIsOnTheLineInOneSentence)
{
    const DetectCase &c = GetParam();
    std::string port = StartSimulator(c.simulator);
    auto start = std::chrono::steady_clock::now();
    Outcome found = Halvex("--port " + port + " detect");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_EQ(found.exit, c.exit) << found.err;
    EXPECT_EQ(found.out.compare(0, std::strlen(c.sentence), c.sentence), 0) << found.out;
}

INSTANTIATE_TEST_SUITE_P(
    Receivers, DetectEach,
    ::testing::Values(
        DetectCase{"", "binary link at 9600 baud: product 4242, Halvex Trail 12 Software Version 3.10\n", 0},
        // The first product request is lost: the library's second is answered.
        DetectCase{"--drop-nth 1", "binary link at 9600 baud: product 4242, Halvex Trail 12 Software Version 3.10\n",
                   0},
        DetectCase{"--nmea --nmea-rate 4 --baud 38400", "NMEA 0183 at 38400 baud (", 0},
        DetectCase{"--text --nmea-rate 4",
                   "text at 9600 baud that is not NMEA: the receiver's interface may be set to a plain-text output\n",
                   0},
        DetectCase{"--nmea --nmea-rate 20 --baud 230400",
                   "bytes at every speed but no sentence or frame: a wrong speed beyond 115200, line noise, or a "
                   "cable that inverts the signal levels\n",
                   4},
        DetectCase{"--silent", "nothing at all in 1", 4}),
    DetectCaseName);

TEST_F(Tool, AReceiverSpeakingNmeaAt4800IsFoundAndUsed)
{
    std::string port = StartSimulator("--nmea --baud 4800");
    Outcome found = Halvex("--port " + port + " detect --json");
    EXPECT_EQ(found.exit, 0) << found.err;
    nlohmann::json json = nlohmann::json::parse(found.out);
    EXPECT_EQ(json["mode"], "nmea");
    EXPECT_EQ(json["baud"], 4800);
    EXPECT_TRUE(json["product"].is_null());
    EXPECT_FALSE(json["sentences"].empty());

    // A binary command says what is there instead of a bare time-out.
    Outcome identify = Halvex("--port " + port + " identify");
    EXPECT_EQ(identify.exit, 4);
    EXPECT_NE(identify.err.find("did not answer; it is sending NMEA 0183 at 4800 baud"), std::string::npos)
        << identify.err;
}

// --baud auto: a binary command refuses at once, an NMEA one goes on at the speed found.
TEST_F(Tool, AutoBaudGoesOnAtTheSpeedFoundOrSaysWhatIsThere)
{
    std::string port = StartSimulator("--nmea --baud 4800");
    Outcome binary = Halvex("--port " + port + " --baud auto waypoints get");
    EXPECT_EQ(binary.exit, 4);
    EXPECT_NE(binary.err.find("NMEA 0183 at 4800 baud"), std::string::npos) << binary.err;
    Outcome fixes = Halvex("--port " + port + " --baud auto position --nmea --count 3 --json");
    EXPECT_EQ(fixes.exit, 0) << fixes.err;
    EXPECT_EQ(std::count(fixes.out.begin(), fixes.out.end(), '\n'), 3) << fixes.out;
}

TEST_F(Tool, AutoBaudFindsABinaryReceiver)
{
    std::string port = StartSimulator();
    Outcome identify = Halvex("--port " + port + " --baud auto identify");
    EXPECT_EQ(identify.exit, 0) << identify.err;
    EXPECT_NE(identify.out.find("Halvex Trail 12"), std::string::npos);
}

TEST_F(Tool, ProbeSaysWhoHoldsAPortAndWhatIsOnTheOthers)
{
    std::string port = StartSimulator();
    int held = open(port.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    Outcome busy = Halvex("ports --probe " + port);
    EXPECT_NE(busy.out.find("serial port, in use by another program"), std::string::npos) << busy.out;
    close(held);
    Outcome probed = Halvex("ports --probe " + port);
    EXPECT_NE(probed.out.find("binary link at 9600 baud: product 4242"), std::string::npos) << probed.out;
}

// Six strings of a later waypoint share one 255-byte record: place texts that
// do not fit are cut where the user is told, not unseen by the library.
TEST_F(Tool, PlaceTextsBeyondTheRecordAreCutAndSaid)
{
    std::string long51(51, 'x');
    Write("long.gpx", "<gpx xmlns:h=\"urn:halvex32:gpx:1\"><wpt lat=\"1\" lon=\"2\"><name>" + std::string(40, 'N') +
                          "</name><cmt>" + long51 + "</cmt><extensions><h:facility>" + long51 +
                          "</h:facility><h:city>" + long51 + "</h:city><h:address>" + long51 +
                          "</h:address><h:crossroad>" + long51 + "</h:crossroad></extensions></wpt></gpx>\n");
    Outcome put = Halvex("--preset modern waypoints put long.gpx");
    EXPECT_EQ(put.exit, 0) << put.err;
    EXPECT_NE(put.err.find("1 waypoint: facility, city, address and cross road cut to fit the receiver's 255-byte "
                           "record by this receiver (D108)"),
              std::string::npos)
        << put.err;
}
