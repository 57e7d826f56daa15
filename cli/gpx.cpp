#include "gpx.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <pugixml.hpp>
#include <sstream>

#include "errors.h"

namespace halvex {

namespace {

const char *const kNamespace = "http://www.topografix.com/GPX/1/1";

// Line and column (from 1) of a byte offset in text.
std::pair<int, int> Position(const std::string &text, std::ptrdiff_t offset)
{
    int line = 1, column = 1;
    for (std::ptrdiff_t i = 0; i < offset && i < static_cast<std::ptrdiff_t>(text.size()); ++i) {
        if (text[static_cast<std::size_t>(i)] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return {line, column};
}

class Reader {
public:
    Reader(std::string path, std::string text) : path_(std::move(path)), text_(std::move(text)) {}

    [[noreturn]] void Fail(const pugi::xml_node &node, const std::string &what) const
    {
        throw Failure(ExitBadData, Where(node) + ": " + what);
    }

    double Coordinate(const pugi::xml_node &node, const char *name, double limit) const
    {
        pugi::xml_attribute attribute = node.attribute(name);
        if (!attribute)
            Fail(node, std::string("<") + node.name() + "> has no " + name + " attribute");
        const char *text = attribute.value();
        char *end = nullptr;
        double value = std::strtod(text, &end);
        if (end == text || *end != '\0' || !std::isfinite(value))
            Fail(node, std::string(name) + " \"" + text + "\" is not a number");
        if (std::fabs(value) > limit)
            Fail(node, std::string(name == std::string("lat") ? "latitude " : "longitude ") + text +
                           " is beyond " + std::to_string(static_cast<int>(limit)) + " degrees");
        return value;
    }

    std::string Where(const pugi::xml_node &node) const
    {
        // An element's offset is that of its name: point at its "<".
        auto [line, column] = Position(text_, node.offset_debug() - 1);
        return path_ + ":" + std::to_string(line) + ":" + std::to_string(column);
    }

    GpxPoint Point(const pugi::xml_node &node) const
    {
        GpxPoint point;
        point.latitude = Coordinate(node, "lat", 90);
        point.longitude = Coordinate(node, "lon", 180);
        point.name = node.child_value("name");
        point.comment = node.child_value("cmt");
        point.unkept = Others(node, {"name", "cmt"});
        return point;
    }

    // The child elements of node that are not among those carried.
    static Unkept Others(const pugi::xml_node &node, std::initializer_list<const char *> carried)
    {
        Unkept others;
        for (pugi::xml_node child : node.children()) {
            if (child.type() != pugi::node_element)
                continue;
            bool kept = false;
            for (const char *name : carried)
                kept = kept || std::strcmp(child.name(), name) == 0;
            if (!kept && std::find(others.begin(), others.end(), child.name()) == others.end())
                others.push_back(child.name());
        }
        return others;
    }

    double Time(const pugi::xml_node &time) const
    {
        std::string text = time.child_value();
        std::tm parts{};
        double fraction = 0;
        int consumed = 0;
        if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                        &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &consumed) != 6)
            Fail(time, "time \"" + text + "\" is not an ISO 8601 date and time");
        const char *rest = text.c_str() + consumed;
        if (*rest == '.') {
            char *end;
            fraction = std::strtod(rest, &end);
            rest = end;
        }
        long offset = 0;
        int hours, minutes;
        if (*rest == 'Z' && rest[1] == '\0') {
        } else if ((*rest == '+' || *rest == '-') && std::sscanf(rest + 1, "%2d:%2d", &hours, &minutes) == 2) {
            offset = (*rest == '+' ? 1 : -1) * (hours * 3600L + minutes * 60L);
        } else if (*rest != '\0') {
            Fail(time, "time \"" + text + "\" has an unknown zone");
        }
        parts.tm_year -= 1900;
        parts.tm_mon -= 1;
        return static_cast<double>(timegm(&parts)) + fraction - static_cast<double>(offset);
    }

    Gpx Read() const
    {
        pugi::xml_document document;
        pugi::xml_parse_result parsed = document.load_buffer(text_.data(), text_.size());
        if (!parsed) {
            auto [line, column] = Position(text_, parsed.offset);
            throw Failure(ExitBadData, path_ + ":" + std::to_string(line) + ":" + std::to_string(column) +
                                           ": not well-formed XML: " + parsed.description());
        }
        pugi::xml_node root = document.document_element();
        if (std::strcmp(root.name(), "gpx") != 0)
            Fail(root, "the document is <" + std::string(root.name()) + ">, not <gpx>");
        Gpx gpx;
        for (pugi::xml_node wpt : root.children("wpt"))
            gpx.waypoints.push_back(Point(wpt));
        for (pugi::xml_node rte : root.children("rte")) {
            GpxRoute route;
            route.name = rte.child_value("name");
            route.comment = rte.child_value("cmt");
            route.number = rte.child("number").text().as_int(0);
            route.unkept = Others(rte, {"name", "cmt", "number", "rtept"});
            for (pugi::xml_node rtept : rte.children("rtept"))
                route.points.push_back(Point(rtept));
            gpx.routes.push_back(route);
        }
        for (pugi::xml_node trk : root.children("trk")) {
            for (const std::string &other : Others(trk, {"trkseg"}))
                gpx.trackUnkept[other]++;
            for (pugi::xml_node segment : trk.children("trkseg"))
                ReadSegment(segment, gpx.trackPoints);
        }
        return gpx;
    }

private:
    void ReadSegment(const pugi::xml_node &segment, std::vector<GpxTrackPoint> &points) const
    {
        bool first = true;
        for (pugi::xml_node trkpt : segment.children("trkpt")) {
            GpxTrackPoint point;
            point.latitude = Coordinate(trkpt, "lat", 90);
            point.longitude = Coordinate(trkpt, "lon", 180);
            pugi::xml_node time = trkpt.child("time");
            point.timed = static_cast<bool>(time);
            point.time = time ? Time(time) : 0;
            point.startsSegment = first;
            point.unkept = Others(trkpt, {"time"});
            point.where = Where(trkpt);
            first = false;
            points.push_back(point);
        }
    }

    std::string path_;
    std::string text_;
};

std::string Degrees(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9f", value);
    return text;
}

void AddPoint(pugi::xml_node parent, const char *element, const GpxPoint &point)
{
    pugi::xml_node node = parent.append_child(element);
    node.append_attribute("lat") = Degrees(point.latitude).c_str();
    node.append_attribute("lon") = Degrees(point.longitude).c_str();
    if (!point.name.empty())
        node.append_child("name").text() = point.name.c_str();
    if (!point.comment.empty())
        node.append_child("cmt").text() = point.comment.c_str();
}

} // namespace

Gpx ReadGpx(const std::string &path)
{
    if (path == "-") {
        std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
        return Reader("standard input", text).Read();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT)
            throw Failure(ExitUsage, "cannot read " + path + ": no such file");
        throw Failure(ExitFailure, "cannot read " + path + ": " + std::strerror(errno));
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw Failure(ExitFailure, "cannot read " + path + ": " + std::strerror(errno));
    return Reader(path, text).Read();
}

std::string IsoTime(double unixSeconds)
{
    double whole = std::floor(unixSeconds);
    int millis = static_cast<int>(std::lround((unixSeconds - whole) * 1000));
    if (millis == 1000) {
        whole += 1;
        millis = 0;
    }
    std::time_t t = static_cast<std::time_t>(whole);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[40];
    std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    if (millis)
        std::snprintf(text + n, sizeof text - n, ".%03dZ", millis);
    else
        std::snprintf(text + n, sizeof text - n, "Z");
    return text;
}

std::string GpxText(const Gpx &gpx)
{
    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    pugi::xml_node root = document.append_child("gpx");
    root.append_attribute("version") = "1.1";
    root.append_attribute("creator") = "halvex";
    root.append_attribute("xmlns") = kNamespace;
    for (const GpxPoint &point : gpx.waypoints)
        AddPoint(root, "wpt", point);
    for (const GpxRoute &route : gpx.routes) {
        pugi::xml_node rte = root.append_child("rte");
        if (!route.name.empty())
            rte.append_child("name").text() = route.name.c_str();
        if (!route.comment.empty())
            rte.append_child("cmt").text() = route.comment.c_str();
        rte.append_child("number").text() = route.number;
        for (const GpxPoint &point : route.points)
            AddPoint(rte, "rtept", point);
    }
    if (!gpx.trackPoints.empty()) {
        pugi::xml_node trk = root.append_child("trk");
        trk.append_child("name").text() = "Track log";
        pugi::xml_node segment;
        for (const GpxTrackPoint &point : gpx.trackPoints) {
            if (!segment || point.startsSegment)
                segment = trk.append_child("trkseg");
            pugi::xml_node trkpt = segment.append_child("trkpt");
            trkpt.append_attribute("lat") = Degrees(point.latitude).c_str();
            trkpt.append_attribute("lon") = Degrees(point.longitude).c_str();
            if (point.timed)
                trkpt.append_child("time").text() = IsoTime(point.time).c_str();
        }
    }
    std::ostringstream out;
    document.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

} // namespace halvex
