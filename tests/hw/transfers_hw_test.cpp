// Identification, transfers, low latency and a silent receiver on the
// kernel's own drivers.
#include <chrono>

#include "session.h"

namespace hw {
namespace {

struct Device {
    const char *name;
    std::string (*find)();
    bool modelled; // the adapter model tells its latency timer
};

const Device devices[] = {
    {"Uart16550", [] { return Uart(); }, false},
    {"QemuAdapter", [] { return FindAdapter(QemuAdapter); }, false},
    {"ModelledAdapter", [] { return FindAdapter(ModelledAdapter); }, true},
};

void PrintTo(const Device &device, std::ostream *out) { *out << device.name; }

class OnEachDriver : public RealLine, public ::testing::WithParamInterface<Device> {};

TEST_P(OnEachDriver, TwoHundredWaypointsGoUpAndComeBackWhole)
{
    std::string device = GetParam().find();
    ASSERT_FALSE(device.empty());
    ASSERT_TRUE(OpenAndIdentify(device));
    HostReceiverInfo info{};
    ASSERT_EQ(HalvexGetReceiverInfo(session, &info), 1);
    EXPECT_EQ(info.waypointType, 108);
    std::vector<Waypoint> sent = ManyWaypoints();
    ASSERT_TRUE(Upload(sent));
    ASSERT_TRUE(Download());
    EXPECT_FALSE(heard.nullArray);
    ExpectSame(heard.waypoints, sent);
}

TEST_P(OnEachDriver, LowLatencyIsAskedForAtOpenAndTheSettingBeforeComesBackAtClose)
{
    std::string device = GetParam().find();
    ASSERT_FALSE(device.empty());
    for (bool before : {false, true}) {
        SCOPED_TRACE(before ? "low latency set before" : "low latency clear before");
        ASSERT_TRUE(SetLowLatency(device, before));
        session = OpenCommPort(device.c_str(), 115200);
        ASSERT_NE(session, nullptr);
        EXPECT_EQ(LowLatency(device), 1);
        if (GetParam().modelled) {
            EXPECT_EQ(Control::Ask("latency"), "latency 1");
        }
        CloseCommPort(session);
        session = nullptr;
        EXPECT_EQ(LowLatency(device), before ? 1 : 0);
        if (GetParam().modelled) {
            EXPECT_EQ(Control::Ask("latency"), before ? "latency 1" : "latency 16");
        }
    }
    SetLowLatency(device, false);
}

INSTANTIATE_TEST_SUITE_P(RealDrivers, OnEachDriver, ::testing::ValuesIn(devices),
                         [](const ::testing::TestParamInfo<Device> &info) { return info.param.name; });

// The receiver stops answering in the middle of a session: the download ends
// with its failure report when the receiver has been silent for 12 s, not
// before and not never.
TEST_F(RealLine, ASilentReceiverOnTheUartEndsTheDownloadAfterTwelveSeconds)
{
    ASSERT_TRUE(OpenAndIdentify(Uart()));
    ASSERT_EQ(Control::Ask("mute 1"), "ok");
    auto start = std::chrono::steady_clock::now();
    bool ended = Download(20000);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Control::Ask("mute 0");
    std::printf("the download ended %.2f s after the receiver went silent\n", seconds);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(heard.nullArray);
    EXPECT_EQ(heard.why, HalvexErrorNoAnswer);
    EXPECT_GE(seconds, 11.5);
    EXPECT_LE(seconds, 14.0);
}

} // namespace
} // namespace hw
