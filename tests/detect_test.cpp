// What detection makes of the bytes a line carries.
#include <gtest/gtest.h>

#include "receiver/heard.h"

namespace {

TEST(Heard, SentencesFramesTextAndNoiseAreToldApart)
{
    // Two good sentences (one after a stray byte), one with a bad checksum.
    halvex::Heard nmea = halvex::Classify("\x8f$GPGGA,1*4B\r\n$GPRMC,2*55\n$GPGSA,3*00\r\n$PHLVX,ON*24\r\n");
    EXPECT_EQ(nmea.sentences, 2) << "the bad checksum and the proprietary one with a wrong sum are not counted";
    EXPECT_EQ(nmea.kinds, (std::vector<std::string>{"GGA", "RMC"}));
    EXPECT_EQ(nmea.textLines, 0);

    // A frame whose size byte is DLE, sent twice; a frame with a bad checksum.
    std::string stuffed = {0x10, 0x0E, 0x10, 0x10};
    stuffed += std::string(16, '\x01');
    unsigned sum = 0x0E + 0x10 + 16;
    stuffed += static_cast<char>((0x100 - (sum & 0xFF)) & 0xFF);
    stuffed += "\x10\x03";
    std::string bad = {0x10, 0x06, 0x02, 0x0A, 0x00, 0x00, 0x10, 0x03};
    halvex::Heard frames = halvex::Classify(stuffed + bad);
    EXPECT_EQ(frames.frames, 1);
    EXPECT_EQ(frames.sentences, 0);

    halvex::Heard text = halvex::Classify("POS 1 LAT 51.47 LON -0.00\r\nPOS 2 LAT 51.47 LON -0.00\r\npartial");
    EXPECT_EQ(text.textLines, 2) << "a line not ended yet is not judged";
    EXPECT_EQ(text.sentences, 0);

    halvex::Heard noise = halvex::Classify(std::string("\x81\xf2\x93\n\xa4\xb5\n", 7));
    EXPECT_EQ(noise.bytes, 7u);
    EXPECT_EQ(noise.sentences + noise.frames + noise.textLines, 0);
}

} // namespace
