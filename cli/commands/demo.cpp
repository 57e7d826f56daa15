#include "commands/demo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "terminal/errors.h"
#include "commands/nmeawatch.h"
#include "gpx/output.h"
#include "commands/position.h"
#include "terminal/terminal.h"

namespace halvex {

namespace {

Gpx SampleUpload()
{
    Gpx gpx;
    struct {
        const char *name;
        double latitude, longitude;
        const char *comment;
    } places[] = {
        {"Vltava", 50.086477, 14.411437, "Charles Bridge, west end"},
        {"Hrad", 50.090870, 14.400443, "Castle, first courtyard"},
        {"Petrin", 50.083514, 14.395075, "Lookout tower"},
        {"Orloj", 50.087056, 14.420671, "Astronomical clock"},
        {"Vysehr", 50.064400, 14.418500, "Vysehrad, south gate"},
    };
    for (auto &p : places) {
        GpxPoint point;
        point.name = p.name;
        point.comment = p.comment;
        point.latitude = p.latitude;
        point.longitude = p.longitude;
        gpx.waypoints.push_back(point);
    }
    GpxRoute route;
    route.name = "Royal way";
    route.comment = "castle to clock";
    route.number = 7;
    route.points = {gpx.waypoints[1], gpx.waypoints[0], gpx.waypoints[3]};
    gpx.routes.push_back(route);
    double start = 1764950400; // 2025-12-05 16:00 UTC
    for (int i = 0; i < 240; ++i) {
        double along = i / 239.0;
        GpxTrackPoint point;
        point.latitude = 50.090870 + (50.087056 - 50.090870) * along + 0.0004 * std::sin(along * 9);
        point.longitude = 14.400443 + (14.420671 - 14.400443) * along;
        point.time = start + 5 * i;
        point.startsSegment = i == 0;
        gpx.trackPoints.push_back(point);
    }
    return gpx;
}

void WriteGpx(const std::string &folder, const char *name, const Gpx &gpx)
{
    Output(folder + "/" + name).Write(GpxText(gpx));
    Say("  wrote " + folder + "/" + name);
}

} // namespace

int RunDemo(Options options, const std::string &folder)
{
    auto start = std::chrono::steady_clock::now();
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
        throw Failure(ExitFailure, "cannot create the folder " + folder + ": " + std::strerror(errno));
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        throw Failure(ExitUsage, "--out " + folder + " is a file, not a folder");
    if (access(folder.c_str(), W_OK) != 0)
        throw Failure(ExitFailure, "cannot write into the folder " + folder + ": " + std::strerror(errno));
    options.port.clear(); // the demo always talks to the simulator
    options.simulator.nmea.enabled = true;
    options.simulator.nmea.held = true;
    options.simulator.nmea.perSecond = 5;

    Say("halvex demo: the library against its built-in receiver simulator");
    Connection connection(options);
    Say("1. Simulated receiver on " + connection.Device() + "; port opened at " + std::to_string(options.baud) +
        " baud");
    Product product = connection.Identify();
    char version[16];
    std::snprintf(version, sizeof version, "%d.%02d", product.version / 100, product.version % 100);
    Say("2. Identified: product " + std::to_string(product.id) + ", software " + version + ", \"" +
        product.description + "\"");

    Gpx sample = SampleUpload();
    Say("3. Uploading " + std::to_string(sample.waypoints.size()) + " waypoints, a route of " +
        std::to_string(sample.routes[0].points.size()) + " waypoints and a track of " +
        std::to_string(sample.trackPoints.size()) + " points");
    connection.UploadWaypoints(sample.waypoints);
    connection.UploadRoutes(sample.routes);
    connection.UploadTrack(sample.trackPoints);

    Say("4. Downloading them back into " + folder);
    Gpx waypoints, routes, track;
    waypoints.waypoints = connection.DownloadWaypoints();
    routes.routes = connection.DownloadRoutes();
    Progress progress("  receiving the track");
    track.trackPoints = connection.DownloadTrack([&](int done, int total) { progress.Update(done, total); });
    progress.Done(std::to_string(track.trackPoints.size()) + " points");
    WriteGpx(folder, "waypoints.gpx", waypoints);
    WriteGpx(folder, "routes.gpx", routes);
    WriteGpx(folder, "track.gpx", track);

    Say("5. Live position, three fixes a second apart:");
    {
        std::mutex lock;
        std::condition_variable arrived;
        int fixes = 0;
        connection.StartPosition([&](const HostPosition &fix) {
            std::lock_guard<std::mutex> hold(lock);
            if (fixes < 3)
                Say("  " + FixText(fix));
            fixes++;
            arrived.notify_all();
        });
        std::unique_lock<std::mutex> hold(lock);
        arrived.wait_for(hold, std::chrono::seconds(10), [&] { return fixes >= 3; });
        hold.unlock();
        connection.StopPosition();
    }

    Say("6. NMEA mode for 3 seconds:");
    int sentences = 0;
    connection.StartNmea([&](const std::string &sentence) {
        ++sentences;
        Say("  " + sentence + (ChecksumState(sentence) == "ok" ? "" : "  [checksum " + ChecksumState(sentence) + "]"));
    });
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    connection.StopNmea();

    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char summary[400];
    std::snprintf(summary, sizeof summary,
                  "Done in %.1f s: %zu waypoints, %zu route(s) with %zu waypoints and %zu track points went up and "
                  "came back; %d NMEA sentences received. GPX files in %s/.",
                  seconds, waypoints.waypoints.size(), routes.routes.size(),
                  routes.routes.empty() ? 0 : routes.routes[0].points.size(), track.trackPoints.size(), sentences,
                  folder.c_str());
    Say(summary);
    return 0;
}

} // namespace halvex
