#include "commands/transfer.h"

#include "gpx/fitting.h"
#include "gpx/gpx.h"
#include "gpx/output.h"
#include "receiver/connection.h"
#include "receiver/receiverclock.h"
#include "receiver/rollover.h"
#include "terminal/terminal.h"

namespace halvex {

int Upload(const Options &options, const std::string &input, const FitOptions &fit)
{
    Gpx gpx = ReadGpx(input); // checked whole before the port is opened
    CheckSomethingToSend(gpx, fit, input);
    if (fit.upload == Records::Tracks)
        CheckTrackTimes(gpx, fit);
    Connection connection(options);
    // Texts are cut and names kept apart as far as the receiver's types keep them.
    FitForReceiver(gpx, connection.Identify(), fit);
    auto upload = [&](std::size_t count, const char *records, auto send) {
        Progress progress("Uploading " + std::to_string(count) + " " + records + " to " + connection.Device());
        send([&] { progress.Running(); });
        progress.Done(std::to_string(count) + " " + records + " sent");
    };
    if (fit.upload == Records::Waypoints)
        upload(gpx.waypoints.size(), "waypoints", [&](auto tick) { connection.UploadWaypoints(gpx.waypoints, tick); });
    else if (fit.upload == Records::Routes)
        upload(gpx.routes.size(), "routes", [&](auto tick) { connection.UploadRoutes(gpx.routes, tick); });
    else
        upload(gpx.trackPoints.size(), "track points", [&](auto tick) { connection.UploadTrack(gpx.trackPoints, tick); });
    return 0;
}

int Download(const Options &options, Records records, const std::string &path, const std::string &rollover,
             bool strict)
{
    Output output(path); // a path that cannot be written is said before minutes of download
    Connection connection(options);
    Gpx gpx;
    if (records == Records::Waypoints) {
        Progress progress("Downloading waypoints from " + connection.Device());
        gpx.waypoints = connection.DownloadWaypoints([&] { progress.Running(); });
        progress.Done(std::to_string(gpx.waypoints.size()) + " waypoints");
    } else if (records == Records::Routes) {
        Progress progress("Downloading routes from " + connection.Device());
        gpx.routes = connection.DownloadRoutes([&] { progress.Running(); });
        progress.Done(std::to_string(gpx.routes.size()) + " routes");
    } else {
        Progress progress("Downloading the track from " + connection.Device());
        gpx.trackPoints = connection.DownloadTrack([&](int done, int total) { progress.Update(done, total); });
        progress.Done(std::to_string(gpx.trackPoints.size()) + " points");
        CorrectTrackDates(connection, gpx.trackPoints, *ParseRollover(rollover), strict);
    }
    output.Write(GpxText(gpx));
    return 0;
}

} // namespace halvex
