// Frames byte for byte, from both sides of the line: the library's codec and
// the simulator's own must agree with the same vectors.
#include <cstdlib>

#include "link_unit.h"
#include "wire.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Library(int id, const Bytes &data)
{
    int length = 0;
    unsigned char *frame = EncodeFrame(id, data.data(), static_cast<int>(data.size()), &length);
    Bytes out(frame, frame + length);
    free(frame);
    return out;
}

TEST(Frames, KnownVectorsOnBothSides)
{
    Bytes request = {0x10, 0xFE, 0x00, 0x02, 0x10, 0x03};
    Bytes ack = {0x10, 0x06, 0x02, 0xFF, 0x00, 0xF9, 0x10, 0x03};
    EXPECT_EQ(Library(254, {}), request);
    EXPECT_EQ(Library(6, {0xFF, 0x00}), ack);
    EXPECT_EQ(halvexsim::EncodePacket(254, {}), request);
    EXPECT_EQ(halvexsim::EncodePacket(6, {0xFF, 0x00}), ack);
}

TEST(Frames, EveryDleInsideIsDoubledButNotTheFraming)
{
    // id 0x10 and a data byte 0x10; size 16 on its own; a checksum of 0x10.
    Bytes idAndData = Library(0x10, {0x10, 0x00});
    EXPECT_EQ(idAndData, (Bytes{0x10, 0x10, 0x10, 0x02, 0x10, 0x10, 0x00, 0xDE, 0x10, 0x03}));
    Bytes sixteen(16, 0x01);
    Bytes sized = Library(0x20, sixteen);
    EXPECT_EQ(sized[2], 0x10);
    EXPECT_EQ(sized[3], 0x10) << "the size byte doubled";
    Bytes checksum = Library(0xF0, {}); // -(0xF0) = 0x10
    EXPECT_EQ(checksum, (Bytes{0x10, 0xF0, 0x00, 0x10, 0x10, 0x10, 0x03}));
    for (const Bytes &frame : {idAndData, sized, checksum})
        EXPECT_EQ(halvexsim::EncodePacket(frame[1], {}).front(), 0x10);
    EXPECT_EQ(halvexsim::EncodePacket(0x10, {0x10, 0x00}), idAndData);
    EXPECT_EQ(halvexsim::EncodePacket(0xF0, {}), checksum);
}

class Decoder : public LinkUnit {};

TEST_F(Decoder, SplitAndJoinedFramesDecodeAlike)
{
    Bytes ack = Library(6, {0xFE, 0x00});
    Bytes two = ack;
    two.insert(two.end(), ack.begin(), ack.end());
    Feed(two);
    for (unsigned char byte : ack)
        Feed({byte});
    Bytes noisy = {0x41, 0x42};
    noisy.insert(noisy.end(), ack.begin(), ack.end());
    Feed(noisy);
    EXPECT_EQ(Count("Ack received\n"), 4);
    EXPECT_EQ(Count("Invalid message"), 0);
}

TEST_F(Decoder, EscapedDleDecodesToOneByte)
{
    // A packet with data 10 00 passes the checksum only if 10 10 became one byte.
    Feed(Library(6, {0x10, 0x00}));
    EXPECT_EQ(Count("Ack received\n"), 1);
}

TEST_F(Decoder, ALoneDleRestartsTheFrame)
{
    Bytes ack = Library(6, {0xFE, 0x00});
    Bytes broken = {0x10, 0x22, 0x05, 0x01, 0x10}; // cut off; the next DLE ... restarts
    broken.insert(broken.end(), ack.begin() + 1, ack.end());
    Feed(broken);
    EXPECT_EQ(Count("It happened\n"), 1);
    EXPECT_EQ(Count("Ack received\n"), 1);
}

TEST_F(Decoder, BadChecksumIsLoggedWithItsBytesAndDropped)
{
    Feed(halvexsim::EncodePacket(6, {0xFE, 0x00}, true));
    EXPECT_EQ(Count("Invalid message received: Check sum failure\n"), 1);
    EXPECT_EQ(Count(": 10 06 02 fe 00 a0 10 03 \n"), 1);
    EXPECT_EQ(Count("Ack received\n"), 0);
}

TEST_F(Decoder, ASizeClaimingMoreThanArrivedFailsInsteadOfReadingOn)
{
    Feed({0x10, 0x06, 0x40, 0x01, 0x02, 0x10, 0x03});
    EXPECT_EQ(Count("Invalid message received: Check sum failure\n"), 1);
    // More data than the size says: judged by the checksum where the size puts it.
    Bytes ack = Library(6, {0xFE, 0x00});
    ack.insert(ack.end() - 2, 0x77);
    Feed(ack);
    EXPECT_EQ(Count("Ack received\n"), 1);
}

TEST_F(Decoder, OverlongFramesAreAbandonedAndLongDumpsSplit)
{
    Bytes huge = {0x10, 0x06};
    huge.insert(huge.end(), 600, 0x55);
    huge.push_back(0x10);
    huge.push_back(0x03);
    Feed(huge);
    EXPECT_EQ(Count("Invalid message"), 0) << "abandoned silently";
    Feed(Library(6, {0xFE, 0x00}));
    EXPECT_EQ(Count("Ack received\n"), 1) << "and the next frame is found";

    // 500 bytes collected with a wrong checksum: a dump of two lines.
    Bytes bad = {0x10, 0xFF, 0xFF};
    bad.insert(bad.end(), 495, 0x01);
    bad.push_back(0x10);
    bad.push_back(0x03);
    Feed(bad);
    std::string log = Log();
    size_t dump = log.find("Check sum failure\n");
    ASSERT_NE(dump, std::string::npos);
    size_t first = log.find('\n', dump + 18);
    size_t second = log.find('\n', first + 1);
    EXPECT_LE(log.substr(dump + 18, first - dump - 18).size(), 3 * 340 + 40u);
    EXPECT_NE(log.substr(first + 1, second - first).find("10 03 \n"), std::string::npos);
}

} // namespace
