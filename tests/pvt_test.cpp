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
    std::vector<unsigned char> packed(64, 0), wide(72, 0);
    Put(packed, 18, 100.7);
    Put(packed, 26, -33.865143 * rad);
    Put(packed, 34, 151.2099 * rad);
    Put(packed, 42, 3.0f);
    Put(packed, 46, 4.0f);
    Put<int16_t>(packed, 58, 13);
    Put<int32_t>(packed, 60, 1);
    Put(wide, 24, 100.7);
    Put(wide, 32, -33.865143 * rad);
    Put(wide, 40, 151.2099 * rad);
    Put(wide, 48, 3.0f);
    Put(wide, 52, 4.0f);
    Put<int32_t>(wide, 64, 13);
    Put<int32_t>(wide, 68, 1);
    PvtHandler(session, 55, packed.data(), 64);
    PvtHandler(session, 55, wide.data(), 72);
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

TEST_F(PvtPacket, AReportRewindsNoTransfer)
{
    std::vector<unsigned char> record(64, 0);
    session->objective = ObjectiveWaypointUpload;
    session->step = 5;
    PvtHandler(session, 55, record.data(), 64);
    EXPECT_EQ(session->step, 5);
    session->objective = ObjectiveReady;
    PvtHandler(session, 55, record.data(), 64);
    EXPECT_EQ(session->step, 0);
}

} // namespace
