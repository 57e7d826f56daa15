// Position reports: the numbers, both record layouts, and what a report
// leaves alone.
#include <cmath>
#include <cstring>

#include "link/pvt.h"
#include "link_unit.h"

namespace {

TEST(Pvt, SpeedAndCourse)
{
    EXPECT_NEAR(GroundSpeed(3, 4), 9.716753774761742, 1e-12);
    EXPECT_NEAR(GroundCourse(3, 4), 36.86989764584402, 1e-9);
    EXPECT_EQ(GroundSpeed(0, 0), 0);
    EXPECT_EQ(GroundCourse(0, 0), 90);
    EXPECT_NEAR(GroundCourse(1, 0), 90, 1e-10);
    EXPECT_NEAR(GroundCourse(0, -1), 180, 1e-10);
    EXPECT_NEAR(GroundCourse(-1, 0), 270, 1e-10);
    EXPECT_NEAR(GroundCourse(1, 1), 45, 1e-10);
}

TEST(Pvt, TimeFromTheReceiversClock)
{
    EXPECT_EQ(PvtTime(100.7, 13, 1), 631245687);
    EXPECT_EQ(PvtTime(-700000000.0, 0, 0), -1) << "before 1970";
    EXPECT_EQ(PvtTime(0, 0, 100000), -1) << "beyond 32 bits";
    EXPECT_EQ(PvtTime(NAN, 0, 0), -1);
}

template <typename T> void Put(std::vector<unsigned char> &record, int at, T value)
{
    std::memcpy(record.data() + at, &value, sizeof value);
}

class PvtPacket : public LinkUnit {};

TEST_F(PvtPacket, BothLayoutsLogTheSameLine)
{
    const double rad = 3.14159265358979323846 / 180;
    // The same report in each layout: its size, where the time, position and
    // velocity start, and where the leap seconds (16 bits in the packed one).
    struct Layout {
        size_t size;
        int time, position, velocity, leap;
    };
    for (Layout layout : {Layout{64, 18, 26, 42, 58}, Layout{72, 24, 32, 48, 64}}) {
        std::vector<unsigned char> record(layout.size, 0);
        Put(record, layout.time, 100.7);
        Put(record, layout.position, -33.865143 * rad);
        Put(record, layout.position + 8, 151.2099 * rad);
        Put(record, layout.velocity, 3.0f);
        Put(record, layout.velocity + 4, 4.0f);
        if (layout.size == 64)
            Put<int16_t>(record, layout.leap, 13);
        else
            Put<int32_t>(record, layout.leap, 13);
        Put<int32_t>(record, layout.leap + (layout.size == 64 ? 2 : 4), 1);
        PvtHandler(session, 55, record.data(), static_cast<int>(layout.size));
    }
    EXPECT_EQ(Count("02:01:27 - lat=-33.865143 lon=151.209900 sog=9.716754 cog=36.869898\n"), 2);
    EXPECT_EQ(Count("Pvt data received\n"), 2);
}

TEST_F(PvtPacket, OddLengthsAndBadTimesAreNotReadThrough)
{
    std::vector<unsigned char> record(72, 0);
    PvtHandler(session, 55, record.data(), 40);
    EXPECT_EQ(Count("Pvt data too short: 40\n"), 1);
    Put(record, 24, -1e12);
    PvtHandler(session, 55, record.data(), 72);
    EXPECT_EQ(Count("--:--:-- - lat=0.000000"), 1);
}

TEST_F(PvtPacket, AReportLeavesAnIdentificationUnderWayAlone)
{
    std::vector<unsigned char> record(64, 0);
    IdentificationRecord identification{};
    Link()->objective = ObjectiveProduct;
    Link()->identification = &identification;
    PvtHandler(session, 55, record.data(), 64);
    EXPECT_EQ(Link()->objective, ObjectiveProduct);
    EXPECT_EQ(Link()->identification, &identification) << "an identification under way still reports";
    Link()->identification = nullptr; // the test's own
}

// A receiver's 64-byte report as it leaves the receiver: 3-D fix, below sea
// level (the Dead Sea shore), climbing; then the same with no fix.
std::vector<unsigned char> Report(int16_t fix)
{
    const double rad = 3.14159265358979323846 / 180;
    std::vector<unsigned char> packed(64, 0);
    Put(packed, 0, -440.5f); // above the ellipsoid
    Put(packed, 8, 4.5f);    // eph
    Put(packed, 12, 7.25f);  // epv
    Put<int16_t>(packed, 16, fix);
    Put(packed, 18, 86399.5 + 18); // the last half second of the day, UTC
    Put(packed, 26, 31.5 * rad);
    Put(packed, 34, 35.5 * rad);
    Put(packed, 42, 3.0f);
    Put(packed, 46, 4.0f);
    Put(packed, 50, 0.5f);
    Put(packed, 54, 17.5f); // mean sea level below the ellipsoid
    Put<int16_t>(packed, 58, 18);
    Put<int32_t>(packed, 60, 13123); // 2025-12-05
    return packed;
}

TEST(PvtFixes, AReportBecomesTheHostsRecord)
{
    std::vector<unsigned char> packed = Report(3);
    HostPosition fix;
    ASSERT_EQ(PvtFix(packed.data(), 64, &fix), 1);
    EXPECT_NEAR(fix.time, 32873 + 13123 + 86399.5 / 86400, 1e-9) << "leap seconds taken off";
    EXPECT_NEAR(fix.latitude, 31.5, 1e-9);
    EXPECT_NEAR(fix.longitude, 35.5, 1e-9);
    EXPECT_NEAR(fix.altitude, -423.0, 1e-6);
    EXPECT_NEAR(fix.speed, 5.0, 1e-12);
    EXPECT_NEAR(fix.course, 36.86989764584402, 1e-9);
    EXPECT_NEAR(fix.climb, 0.5, 1e-12);
    EXPECT_NEAR(fix.eph, 4.5, 1e-12);
    EXPECT_NEAR(fix.epv, 7.25, 1e-12);
    EXPECT_EQ(fix.fixMode, HalvexFix3D);
    EXPECT_EQ(fix.given, HalvexGaveTime | HalvexGavePosition | HalvexGaveAltitude | HalvexGaveSpeed |
                             HalvexGaveCourse | HalvexGaveClimb | HalvexGaveEph | HalvexGaveEpv | HalvexGaveFixMode);
    EXPECT_EQ(fix.satellites, 0) << "a report does not count them";

    // Half a second later the seconds run past the day, and a leap second
    // later the receiver's count says 19: the date follows both.
    Put(packed, 18, 86400.5 + 19);
    Put<int16_t>(packed, 58, 19);
    ASSERT_EQ(PvtFix(packed.data(), 64, &fix), 1);
    EXPECT_NEAR(fix.time, 32873 + 13124 + 0.5 / 86400, 1e-9);
}

TEST(PvtFixes, WithoutAFixOnlyTheTimeIsGiven)
{
    for (int16_t fix : {0, 1}) {
        std::vector<unsigned char> packed = Report(fix);
        HostPosition position;
        ASSERT_EQ(PvtFix(packed.data(), 64, &position), 1);
        EXPECT_EQ(position.fixMode, HalvexFixNone);
        EXPECT_EQ(position.given, HalvexGaveTime | HalvexGaveFixMode);
        EXPECT_TRUE(std::isnan(position.latitude) && std::isnan(position.altitude) && std::isnan(position.speed));
    }
    std::vector<unsigned char> twoD = Report(2);
    HostPosition position;
    ASSERT_EQ(PvtFix(twoD.data(), 64, &position), 1);
    EXPECT_EQ(position.fixMode, HalvexFix2D);
    EXPECT_TRUE(std::isnan(position.altitude)) << "a 2-D fix's altitude is assumed, not measured";
    EXPECT_EQ(PvtFix(twoD.data(), 40, &position), 0) << "too short to be a report";
}

HostPosition delivered;
int deliveries;
void HALVEX_CALL TakeFix(int32_t code, HostPosition *position)
{
    EXPECT_EQ(code, HalvexPositionFix);
    delivered = *position;
    deliveries++;
}

TEST_F(PvtPacket, AReportReachesAStreamAndIsLoggedAsBefore)
{
    std::vector<unsigned char> packed = Report(3);
    deliveries = 0;
    PvtHandler(session, 55, packed.data(), 64);
    EXPECT_EQ(deliveries, 0) << "no stream runs";
    session->positionCallback = TakeFix;
    PvtHandler(session, 55, packed.data(), 64);
    EXPECT_EQ(deliveries, 1);
    EXPECT_NEAR(delivered.time, 32873 + 13123 + 86399.5 / 86400, 1e-9) << "23:59:59.5 UTC";
    EXPECT_EQ(Count("01:59:59 - lat=31.500000 lon=35.500000 sog=9.716754 cog=36.869898\n"), 2)
        << "the log keeps its own clock";
    EXPECT_EQ(Count("Pvt data received\n"), 2);
}

} // namespace
