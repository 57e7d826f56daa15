// The data types of later receivers byte for byte: D108, D109 and D110
// waypoints, D210 route links, D301 and D302 track points, D310 and D311
// track headers, on the library's side and the simulator's.
#include <cstring>
#include <string>

#include "link/product.h"
#include "link_unit.h"
#include "records.h"
#include "transfer/records.h"
#include "transfer/transfer.h"
#include "transfer/waypointtypes.h"
#include "waypoint_codec.h"

namespace {

const Bytes kNotSet = {0x51, 0x59, 0x04, 0x69}; // 1.0e25f, little-endian
const Bytes kSubclass = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Text(const std::string &s) { return Bytes(s.begin(), s.end()) + Bytes{0}; }

WaypointRecord Decoded(int type, const Bytes &data, int length = -1)
{
    ProtocolCaps caps{};
    caps.protocolSlots[SlotWaypointType] = static_cast<int16_t>(type);
    WaypointRecord record{};
    DecodeWaypoint(&caps, data.data(), length < 0 ? static_cast<int>(data.size()) : length, &record);
    return record;
}

// 45 degrees north, 90 west; unknown altitude, depth and proximity; no state
// or country.
const Bytes kPosition = Bytes{0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0xC0} + kNotSet + kNotSet + kNotSet +
                        Bytes{' ', ' ', ' ', ' '};
const Bytes kStrings = Text("ABC") + Text("Lower case kept") + Bytes{0, 0, 0, 0};

TEST(StringWaypoints, EachTypeOnBothSides)
{
    const Bytes none = {0xFF, 0xFF, 0xFF, 0xFF};
    const std::vector<std::pair<int, Bytes>> vectors = {
        {108, Bytes{0x00, 0xFF, 0x00, 0x60, 18, 0} + kSubclass + kPosition + kStrings},
        {109, Bytes{0x01, 0x00, 0x1F, 0x70, 18, 0} + kSubclass + kPosition + none + kStrings},
        {110, Bytes{0x01, 0x00, 0x1F, 0x80, 18, 0} + kSubclass + kPosition + none + kNotSet + none + Bytes{0, 0} +
                  kStrings},
    };
    for (const auto &[type, expected] : vectors) {
        SCOPED_TRACE(type);
        EXPECT_EQ(expected.size(), (type == 108 ? 48u : type == 109 ? 52u : 62u) + kStrings.size());
        EXPECT_EQ(Encoded(type, Record("abc", 45.0, -90.0, "Lower case kept")), expected);
        halvexsim::Waypoint w{"ABC", halvexsim::Semicircles(45.0), halvexsim::Semicircles(-90.0), "Lower case kept"};
        EXPECT_EQ(halvexsim::WaypointToWire(type, w), expected);

        WaypointRecord back = Decoded(type, expected);
        EXPECT_STREQ(back.ident, "ABC");
        EXPECT_STREQ(back.comment, "Lower case kept");
        EXPECT_EQ(back.latitude, 45.0);
        EXPECT_EQ(back.longitude, -90.0);
        EXPECT_TRUE(halvexsim::WaypointFromWire(type, expected) == w);
    }
}

TEST(StringWaypoints, StringsAtTheirLimitsAndPacketsThatEndInsideThem)
{
    std::string comment(127, 'c');
    Bytes sent = Encoded(108, Record("x", 0, 0, comment.c_str()));
    EXPECT_EQ(sent, Encoded(108, Record("x", 0, 0, comment.substr(0, 51).c_str()))) << "comments are cut to 51";
    EXPECT_EQ(sent.size(), 48u + 2 + 52 + 4);

    // A receiver's 51-character ident fills the record's field and no more.
    Bytes head = Encoded(109, Record("", 0, 0, ""));
    head.resize(52);
    Bytes received = head + Text(std::string(51, 'I')) + Text("note") + Bytes{0, 0, 0, 0};
    WaypointRecord record = Decoded(109, received);
    EXPECT_EQ(std::string(record.ident), std::string(sizeof record.ident - 1, 'I'));
    EXPECT_STREQ(record.comment, "note");

    // Cut inside the ident, inside the comment, and before the strings.
    record = Decoded(109, received, 52 + 10);
    EXPECT_EQ(std::string(record.ident), std::string(10, 'I'));
    EXPECT_STREQ(record.comment, "");
    record = Decoded(109, received, 52 + 52 + 2);
    EXPECT_STREQ(record.comment, "no");
    record = Decoded(109, received, 20);
    EXPECT_STREQ(record.ident, "");
    EXPECT_EQ(record.latitude, 0.0) << "the position lies past the end";
}

TEST(RouteLinksAndTracks, LinkPointAndHeaderVectors)
{
    EXPECT_EQ(halvexsim::RouteLinkToWire(210), (Bytes{3, 0} + kSubclass + Bytes{0}));

    TrackPointRecord point = TrackPoint(32875.5, 45.0, -90.0, 1);
    const Bytes position = {0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0xC0, 0xC0, 0xA8, 0x00, 0x00};
    const std::vector<std::pair<int, Bytes>> points = {
        {301, position + kNotSet + kNotSet + Bytes{1}},
        {302, position + kNotSet + kNotSet + kNotSet + Bytes{1}},
    };
    halvexsim::TrackPoint simPoint{halvexsim::Semicircles(45.0), halvexsim::Semicircles(-90.0), 43200, true};
    for (const auto &[type, expected] : points) {
        SCOPED_TRACE(type);
        unsigned char wire[25];
        ASSERT_EQ(EncodeTrackPointData(type, &point, wire), static_cast<int>(expected.size()));
        EXPECT_EQ(Bytes(wire, wire + expected.size()), expected);
        EXPECT_EQ(halvexsim::TrackPointToWire(simPoint, type), expected);
        TrackPointRecord back;
        DecodeTrackPoint(type, expected.data(), static_cast<int>(expected.size()), &back);
        EXPECT_EQ(back.time, 32875.5);
        EXPECT_EQ(back.newTrack, 1);
        DecodeTrackPoint(type, expected.data(), static_cast<int>(expected.size()) - 1, &back);
        EXPECT_EQ(back.newTrack, 0) << "a point cut before its flag";
    }

    unsigned char header[64];
    ASSERT_EQ(EncodeTrackHeaderData(310, 1, nullptr, header), 11);
    EXPECT_EQ(Bytes(header, header + 11), (Bytes{1, 0xFF} + Text("TRACK 01")));
    ASSERT_EQ(EncodeTrackHeaderData(311, 2, nullptr, header), 2);
    EXPECT_EQ(Bytes(header, header + 2), (Bytes{2, 0}));
    EXPECT_EQ(EncodeTrackHeaderData(399, 1, nullptr, header), 0);
}

} // namespace
