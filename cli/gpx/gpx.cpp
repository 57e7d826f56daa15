#include "gpx/gpx.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <pugixml.hpp>
#include <sys/stat.h>
#include <sstream>

#include "terminal/errors.h"

namespace halvex {

namespace {

const char *const kNamespace = "http://www.topografix.com/GPX/1/1";

// Where each line of a text starts, for the line and column (from 1) of a
// byte offset without counting from the start each time.
class LineIndex {
public:
    explicit LineIndex(const std::string &text)
    {
        starts_.push_back(0);
        for (std::size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1))
            starts_.push_back(i + 1);
    }
    std::pair<int, int> Position(std::ptrdiff_t offset) const
    {
        std::size_t at = offset < 0 ? 0 : static_cast<std::size_t>(offset);
        auto line = std::upper_bound(starts_.begin(), starts_.end(), at) - 1;
        return {static_cast<int>(line - starts_.begin()) + 1, static_cast<int>(at - *line) + 1};
    }

private:
    std::vector<std::size_t> starts_;
};

// The length of the UTF-8 sequence at text[at], or 0 when it is none
// (a stray byte, a sequence cut short, an overlong form or a surrogate).
std::size_t Utf8Length(const std::string &text, std::size_t at)
{
    auto byte = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    unsigned lead = byte(at);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                         : lead >= 0xF0 && lead <= 0xF4                  ? 4
                                                                                          : 0;
    // The second byte's range, narrower after the leads that could start an
    // overlong form, a surrogate or a code point beyond U+10FFFF.
    unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    for (std::size_t i = 1; i < length; ++i) {
        unsigned next = byte(at + i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

// Whether the reference after an "&" (up to its ";") is one XML itself
// defines: the five named ones and character references.
bool PredefinedReference(const std::string &name)
{
    static const char *const named[] = {"amp", "lt", "gt", "quot", "apos"};
    for (const char *known : named)
        if (name == known)
            return true;
    if (name.size() < 2 || name[0] != '#')
        return false;
    bool hex = name[1] == 'x';
    std::string digits = name.substr(hex ? 2 : 1);
    return !digits.empty() && digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") ==
                                  std::string::npos;
}

class Reader {
public:
    Reader(std::string path, std::string text) : path_(std::move(path)), text_(std::move(text)), lines_(text_) {}

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
        while (end != text && std::strchr(" \t\r\n", *end) && *end) // a decimal's blanks around it are no part of it
            ++end;
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
        auto [line, column] = lines_.Position(node.offset_debug() - 1);
        return path_ + ":" + std::to_string(line) + ":" + std::to_string(column);
    }

    GpxPoint Point(const pugi::xml_node &node) const
    {
        GpxPoint point;
        point.latitude = Coordinate(node, "lat", 90);
        point.longitude = Coordinate(node, "lon", 180);
        point.name = node.child_value("name");
        point.comment = node.child_value("cmt");
        point.where = Where(node);
        PointFields &f = point.fields;
        f.elevation = Number(node.child("ele"));
        if (pugi::xml_node time = node.child("time"))
            f.time = Time(time);
        if (pugi::xml_node sym = node.child("sym")) {
            std::string name = sym.child_value();
            int number = SymbolNumber(name);
            if (number < 0 && !name.empty() && name.find_first_not_of("0123456789") == std::string::npos)
                number = Whole(sym);
            if (number >= 0)
                f.symbol = number;
            else
                f.symbolName = name;
        }
        f.depth = Number(Extension(node, "depth"));
        f.proximity = Number(Extension(node, "proximity"));
        f.temperature = Number(Extension(node, "temperature"));
        if (pugi::xml_node symbol = Extension(node, "symbol"))
            f.symbol = Whole(symbol); // the number the receiver gave, whatever <sym> calls it
        f.display = WholeIf(Extension(node, "display"));
        f.colour = WholeIf(Extension(node, "colour"));
        f.category = WholeIf(Extension(node, "category"));
        f.wptClass = WholeIf(Extension(node, "class"));
        f.facility = Extension(node, "facility").child_value();
        f.city = Extension(node, "city").child_value();
        f.address = Extension(node, "address").child_value();
        f.crossRoad = Extension(node, "crossroad").child_value();
        point.unkept = Others(node, {"name", "cmt", "ele", "time", "sym", "extensions"});
        return point;
    }

    // The element of the tool's own namespace under node's <extensions>.
    static pugi::xml_node Extension(const pugi::xml_node &node, const char *name)
    {
        for (pugi::xml_node child : node.child("extensions").children()) {
            std::string qualified = child.name();
            std::size_t colon = qualified.find(':');
            std::string prefix = colon == std::string::npos ? "" : qualified.substr(0, colon);
            std::string local = colon == std::string::npos ? qualified : qualified.substr(colon + 1);
            if (local == name && NamespaceOf(child, prefix) == kExtensionNamespace)
                return child;
        }
        return {};
    }

    // What the prefix stands for where node is.
    static std::string NamespaceOf(pugi::xml_node node, const std::string &prefix)
    {
        std::string attribute = prefix.empty() ? "xmlns" : "xmlns:" + prefix;
        for (; node; node = node.parent())
            if (pugi::xml_attribute declared = node.attribute(attribute.c_str()))
                return declared.value();
        return {};
    }

    std::optional<double> Number(const pugi::xml_node &node) const
    {
        if (!node)
            return std::nullopt;
        std::string text = node.child_value();
        char *end = nullptr;
        double value = std::strtod(text.c_str(), &end);
        while (*end && std::strchr(" \t\r\n", *end))
            ++end;
        if (end == text.c_str() || *end || !std::isfinite(value))
            Fail(node, "<" + std::string(node.name()) + "> \"" + text + "\" is not a number");
        return value;
    }

    int Whole(const pugi::xml_node &node) const
    {
        double value = *Number(node);
        if (value != std::floor(value) || value < 0 || value > 65535)
            Fail(node, "<" + std::string(node.name()) + "> must be a whole number from 0 to 65535");
        return static_cast<int>(value);
    }

    std::optional<int> WholeIf(const pugi::xml_node &node) const
    {
        return node ? std::optional<int>(Whole(node)) : std::nullopt;
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

    // What the parser lets through that XML does not: a reference to an
    // entity XML does not define (left as text by the parser; those a DTD
    // declares are never expanded here) and, in a UTF-8 file, a byte that is
    // no UTF-8. Comments, CDATA sections and processing instructions are
    // passed over whole.
    void CheckText() const
    {
        if (text_.size() >= 2 && (text_[0] == '\0' || text_[1] == '\0' || static_cast<unsigned char>(text_[0]) >= 0xFE))
            return; // UTF-16 or UTF-32: the parser converts and checks it
        bool utf8 = DeclaredUtf8();
        static const std::pair<const char *, const char *> skipped[] = {
            {"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
        for (std::size_t i = 0; i < text_.size();) {
            bool passed = false;
            for (const auto &[open, close] : skipped) {
                if (text_.compare(i, std::strlen(open), open) == 0) {
                    std::size_t end = text_.find(close, i + std::strlen(open));
                    i = end == std::string::npos ? text_.size() : end + std::strlen(close);
                    passed = true;
                    break;
                }
            }
            if (passed)
                continue;
            unsigned char c = static_cast<unsigned char>(text_[i]);
            if (c == '&') {
                std::size_t end = text_.find(';', i);
                std::string name = end == std::string::npos ? "" : text_.substr(i + 1, end - i - 1);
                if (end == std::string::npos || end - i > 40 || name.find_first_of(" \t\r\n<&") != std::string::npos)
                    FailAt(i, "not well-formed XML: an \"&\" that starts no reference (write &amp;)");
                if (!PredefinedReference(name))
                    FailAt(i, "the entity &" + name + "; is not one XML defines (entities are not expanded)");
                i = end + 1;
            } else if (utf8 && c >= 0x80) {
                std::size_t length = Utf8Length(text_, i);
                if (!length) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "0x%02X", c);
                    FailAt(i, std::string("the byte ") + hex + " is not UTF-8, which the file is in");
                }
                i += length;
            } else {
                ++i;
            }
        }
    }

    // UTF-8 unless the declaration names another encoding.
    bool DeclaredUtf8() const
    {
        std::size_t start = text_.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
        if (text_.compare(start, 5, "<?xml") != 0)
            return true;
        std::string declaration = text_.substr(start, text_.find("?>", start) - start);
        std::size_t at = declaration.find("encoding");
        if (at == std::string::npos)
            return true;
        std::size_t quote = declaration.find_first_of("\"'", at);
        if (quote == std::string::npos)
            return true;
        std::string name = declaration.substr(quote + 1, declaration.find(declaration[quote], quote + 1) - quote - 1);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char ch) { return std::tolower(ch); });
        return name == "utf-8" || name == "utf8";
    }

    [[noreturn]] void FailAt(std::size_t offset, const std::string &what) const
    {
        auto [line, column] = lines_.Position(static_cast<std::ptrdiff_t>(offset));
        throw Failure(ExitBadData, path_ + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + what);
    }

    // A root with a prefix (<gpx:gpx xmlns:gpx="...">) is GPX all the same:
    // its prefix is taken off the elements that carry it.
    static void DropRootPrefix(pugi::xml_node root)
    {
        std::string name = root.name();
        std::size_t colon = name.find(':');
        if (colon == std::string::npos || name.substr(colon + 1) != "gpx")
            return;
        std::string prefix = name.substr(0, colon + 1);
        struct Unprefix : pugi::xml_tree_walker {
            std::string prefix;
            bool for_each(pugi::xml_node &node) override
            {
                if (node.type() == pugi::node_element && std::strncmp(node.name(), prefix.c_str(), prefix.size()) == 0)
                    node.set_name(node.name() + prefix.size());
                return true;
            }
        } walker;
        walker.prefix = prefix;
        root.set_name("gpx");
        root.traverse(walker);
    }

    Gpx Read() const
    {
        CheckText();
        pugi::xml_document document;
        pugi::xml_parse_result parsed = document.load_buffer(text_.data(), text_.size());
        if (!parsed) {
            auto [line, column] = lines_.Position(parsed.offset);
            throw Failure(ExitBadData, path_ + ":" + std::to_string(line) + ":" + std::to_string(column) +
                                           ": not well-formed XML: " + parsed.description());
        }
        pugi::xml_node root = document.document_element();
        DropRootPrefix(root);
        if (std::strcmp(root.name(), "gpx") != 0)
            Fail(root, "the document is <" + std::string(root.name()) + ">, not <gpx>");
        Gpx gpx;
        for (pugi::xml_node wpt : root.children("wpt"))
            gpx.waypoints.push_back(Point(wpt));
        for (pugi::xml_node rte : root.children("rte")) {
            GpxRoute route;
            route.name = rte.child_value("name");
            route.comment = rte.child_value("cmt");
            route.where = Where(rte);
            if (pugi::xml_node number = rte.child("number")) {
                double value = *Number(number);
                if (value != std::floor(value) || std::fabs(value) > 2147483647.0)
                    Fail(number, "<number> must be a whole number");
                route.number = static_cast<int>(value);
                route.numberWhere = Where(number);
            }
            route.unkept = Others(rte, {"name", "cmt", "number", "rtept"});
            for (pugi::xml_node rtept : rte.children("rtept"))
                route.points.push_back(Point(rtept));
            gpx.routes.push_back(route);
        }
        for (pugi::xml_node trk : root.children("trk")) {
            for (const std::string &other : Others(trk, {"name", "trkseg", "extensions"}))
                gpx.trackUnkept[other]++;
            std::size_t first = gpx.trackPoints.size();
            for (pugi::xml_node segment : trk.children("trkseg"))
                ReadSegment(segment, gpx.trackPoints);
            if (first == gpx.trackPoints.size())
                continue; // a track with no points sends nothing
            GpxTrackPoint &start = gpx.trackPoints[first];
            start.startsTrack = true;
            start.trackName = trk.child_value("name");
            start.trackColour = WholeIf(Extension(trk, "colour"));
            start.trackDisplay = WholeIf(Extension(trk, "display"));
            gpx.tracks++;
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
            point.elevation = Number(trkpt.child("ele"));
            point.depth = Number(Extension(trkpt, "depth"));
            point.temperature = Number(Extension(trkpt, "temperature"));
            point.unkept = Others(trkpt, {"time", "ele", "extensions"});
            point.where = Where(trkpt);
            first = false;
            points.push_back(point);
        }
    }

    std::string path_;
    std::string text_;
    LineIndex lines_;
};

std::string Degrees(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9f", value);
    return text;
}

// The shortest decimal that reads back as the same single-precision value:
// receivers keep measures as 32-bit floats.
std::string Measure(double value)
{
    char text[40];
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        bool plain = !std::strchr(text, 'e'); // 20, not 2e+01
        if (plain && static_cast<float>(std::strtod(text, nullptr)) == static_cast<float>(value))
            return text;
    }
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// The tool's extension element of parent, made when first needed.
class Extensions {
public:
    explicit Extensions(pugi::xml_node parent) : parent_(parent) {}
    void Add(const char *name, const std::string &text)
    {
        if (!node_) {
            node_ = parent_.append_child("extensions");
        }
        node_.append_child((std::string("halvex:") + name).c_str()).text() = text.c_str();
    }
    void Add(const char *name, const std::optional<double> &value)
    {
        if (value)
            Add(name, Measure(*value));
    }
    void Add(const char *name, const std::optional<int> &value)
    {
        if (value)
            Add(name, std::to_string(*value));
    }

private:
    pugi::xml_node parent_, node_;
};

void AddPoint(pugi::xml_node parent, const char *element, const GpxPoint &point)
{
    const PointFields &f = point.fields;
    pugi::xml_node node = parent.append_child(element);
    node.append_attribute("lat") = Degrees(point.latitude).c_str();
    node.append_attribute("lon") = Degrees(point.longitude).c_str();
    if (f.elevation)
        node.append_child("ele").text() = Measure(*f.elevation).c_str();
    if (f.time)
        node.append_child("time").text() = IsoTime(*f.time).c_str();
    if (!point.name.empty())
        node.append_child("name").text() = point.name.c_str();
    if (!point.comment.empty())
        node.append_child("cmt").text() = point.comment.c_str();
    if (f.symbol) {
        std::string name = SymbolName(*f.symbol);
        node.append_child("sym").text() = (name.empty() ? std::to_string(*f.symbol) : name).c_str();
    }
    Extensions extensions(node);
    extensions.Add("symbol", f.symbol);
    extensions.Add("depth", f.depth);
    extensions.Add("proximity", f.proximity);
    extensions.Add("temperature", f.temperature);
    extensions.Add("category", f.category);
    extensions.Add("colour", f.colour);
    extensions.Add("display", f.display);
    extensions.Add("class", f.wptClass);
    const std::pair<const char *, const std::string *> texts[] = {
        {"facility", &f.facility}, {"city", &f.city}, {"address", &f.address}, {"crossroad", &f.crossRoad}};
    for (auto [name, text] : texts)
        if (!text->empty())
            extensions.Add(name, *text);
}

void AddTrack(pugi::xml_node root, const std::vector<GpxTrackPoint> &points)
{
    pugi::xml_node trk, segment;
    for (const GpxTrackPoint &point : points) {
        if (!trk || point.startsTrack) {
            trk = root.append_child("trk");
            // A receiver that heads no tracks keeps one track log.
            std::string name = point.startsTrack ? point.trackName : "Track log";
            if (!name.empty())
                trk.append_child("name").text() = name.c_str();
            Extensions extensions(trk);
            extensions.Add("colour", point.trackColour);
            extensions.Add("display", point.trackDisplay);
            segment = pugi::xml_node();
        }
        if (!segment || point.startsSegment)
            segment = trk.append_child("trkseg");
        pugi::xml_node trkpt = segment.append_child("trkpt");
        trkpt.append_attribute("lat") = Degrees(point.latitude).c_str();
        trkpt.append_attribute("lon") = Degrees(point.longitude).c_str();
        if (point.elevation)
            trkpt.append_child("ele").text() = Measure(*point.elevation).c_str();
        if (point.timed)
            trkpt.append_child("time").text() = IsoTime(point.time).c_str();
        Extensions extensions(trkpt);
        extensions.Add("depth", point.depth);
        extensions.Add("temperature", point.temperature);
    }
}

} // namespace

Gpx ReadGpx(const std::string &path)
{
    if (path == "-") {
        std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
        return Reader("standard input", text).Read();
    }
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        throw Failure(ExitUsage, "cannot read " + path + ": it is a directory");
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

namespace {

// The receiver's numbers of the symbols GPX files name most.
const std::pair<int, const char *> kSymbols[] = {
    {18, "Waypoint"},
    {8255, "Geocache"},
    {8256, "Geocache Found"},
};

} // namespace

int SymbolNumber(const std::string &name)
{
    for (auto [number, known] : kSymbols)
        if (strcasecmp(name.c_str(), known) == 0)
            return number;
    return -1;
}

std::string SymbolName(int number)
{
    for (auto [known, name] : kSymbols)
        if (known == number)
            return name;
    return {};
}

std::string IsoDay(double unixSeconds) { return IsoTime(unixSeconds).substr(0, 10); }

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
    root.append_attribute("xmlns:halvex") = kExtensionNamespace;
    for (const GpxPoint &point : gpx.waypoints)
        AddPoint(root, "wpt", point);
    for (const GpxRoute &route : gpx.routes) {
        pugi::xml_node rte = root.append_child("rte");
        if (!route.name.empty())
            rte.append_child("name").text() = route.name.c_str();
        if (!route.comment.empty())
            rte.append_child("cmt").text() = route.comment.c_str();
        if (route.number)
            rte.append_child("number").text() = *route.number;
        for (const GpxPoint &point : route.points)
            AddPoint(rte, "rtept", point);
    }
    AddTrack(root, gpx.trackPoints);
    std::ostringstream out;
    document.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

} // namespace halvex
