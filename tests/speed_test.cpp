// A receiver at one line speed, heard by a host at another.
#include <gtest/gtest.h>

#include <algorithm>

#include "speed.h"

namespace {

TEST(LineSpeed, AHostAtAnotherSpeedHearsOnlyGarbage)
{
    std::string sentence = "$GPGGA,120000.00,5128.67,N,00000.09,W,1,08,0.9,45.0,M,47.0,M,,*47\r\n";
    auto bytes = reinterpret_cast<const std::uint8_t *>(sentence.data());
    halvexsim::Bytes slower = halvexsim::Misheard(bytes, sentence.size(), 4800, 9600, 0);
    halvexsim::Bytes faster = halvexsim::Misheard(bytes, sentence.size(), 38400, 9600, 0);
    EXPECT_EQ(slower.size(), sentence.size() / 2) << "a host at half the speed takes in half the characters";
    EXPECT_EQ(faster.size(), sentence.size());
    for (const halvexsim::Bytes *heard : {&slower, &faster})
        EXPECT_TRUE(std::all_of(heard->begin(), heard->end(), [](std::uint8_t b) { return b >= 0x80; }))
            << "never a '$', a DLE or text";
    EXPECT_EQ(halvexsim::Misheard(bytes, sentence.size(), 4800, 9600, 0), slower) << "the same every time";
    EXPECT_NE(halvexsim::Misheard(bytes, sentence.size(), 4800, 9600, 5), slower) << "but not the same at every place";
    EXPECT_EQ(halvexsim::BaudOf(B4800), 4800u);
    EXPECT_EQ(halvexsim::BaudOf(B115200), 115200u);
}

} // namespace
