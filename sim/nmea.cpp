#include "nmea.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>

namespace halvexsim {

std::string TextLine(std::uint64_t i)
{
    char line[96];
    std::snprintf(line, sizeof line, "POS %llu LAT 51.47793 LON -0.00155 ALT 46 SATS 8\r\n",
                  static_cast<unsigned long long>(i));
    return line;
}

std::string WithChecksum(const std::string &body)
{
    unsigned checksum = 0;
    for (std::size_t i = 1; i < body.size(); ++i)
        checksum ^= static_cast<unsigned char>(body[i]);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", checksum & 0xFF);
    return body + tail;
}

namespace {
// The stream's clock starts at the whole second the process first asks for
// a sentence, so that its dates are today's and every caller in the process
// (the talker, a test that checks what it heard) gets the same sentences.
std::time_t StreamStart()
{
    static const std::time_t start = std::time(nullptr);
    return start;
}
} // namespace

std::string GeneratedSentence(std::uint64_t i, int earlyDays)
{
    std::uint64_t tick = i / 6; // one fix every six sentences, a second apart
    std::time_t at = StreamStart() + static_cast<std::time_t>(tick) - static_cast<std::time_t>(earlyDays) * 86400;
    std::tm utc{};
    gmtime_r(&at, &utc);
    double minutes = 28.676 + static_cast<double>(tick % 10000) * 0.001; // north from Greenwich
    char clock[16];
    std::strftime(clock, sizeof clock, "%H%M%S.00", &utc);
    char body[160];
    switch (i % 6) {
    case 0:
        std::snprintf(body, sizeof body, "$GPGGA,%s,51%06.3f,N,00000.093,W,1,08,0.9,45.0,M,47.0,M,,", clock,
                      minutes);
        break;
    case 1:
        std::snprintf(body, sizeof body, "$GPRMC,%s,A,51%06.3f,N,00000.093,W,022.4,000.0,%02d%02d%02d,003.1,W",
                      clock, minutes, utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100);
        break;
    case 2:
        std::snprintf(body, sizeof body, "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1");
        break;
    case 3:
        std::snprintf(body, sizeof body, "$GPGSV,2,%u,08,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45",
                      static_cast<unsigned>(1 + tick % 2));
        break;
    case 4:
        std::snprintf(body, sizeof body, "$GPZDA,%s,%02d,%02d,%04d,00,00", clock, utc.tm_mday, utc.tm_mon + 1,
                      utc.tm_year + 1900);
        break;
    default:
        std::snprintf(body, sizeof body, "$PHLVX,STAT,%llu,OK", static_cast<unsigned long long>(tick));
        break;
    }
    return WithChecksum(body);
}

std::vector<std::string> ReadSentenceFile(const std::string &path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    std::vector<std::string> sentences;
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
            line.pop_back();
        if (line.empty())
            continue;
        sentences.push_back(line.find('*') == std::string::npos ? WithChecksum(line) : line + "\r\n");
    }
    return sentences;
}

} // namespace halvexsim
