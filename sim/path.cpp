#include "path.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "nmea.h"

namespace halvexsim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadius = 400, kSpeed = 10;       // metres, metres a second
constexpr double kMetresPerDegree = 6371000 * kPi / 180;
constexpr double kKnotsPerMetreSecond = 3600.0 / 1852;

// ddmm.mmmm, or dddmm.mmmm, and the hemisphere.
std::string Angle(double degrees, int wholeDigits, char positive, char negative)
{
    double magnitude = std::fabs(degrees);
    int whole = static_cast<int>(magnitude);
    double minutes = (magnitude - whole) * 60;
    char text[32];
    std::snprintf(text, sizeof text, "%0*d%07.4f,%c", wholeDigits, whole, minutes, degrees < 0 ? negative : positive);
    return text;
}

double Course(const PathFix &fix)
{
    double course = std::atan2(fix.east, fix.north) * 180 / kPi;
    return course < 0 ? course + 360 : course;
}

} // namespace

PathFix PathAt(double unixSeconds, double startLatitude, double startLongitude)
{
    double angle = std::fmod(unixSeconds, 86400.0) * kSpeed / kRadius;
    double eastOffset = kRadius * std::sin(angle), northOffset = kRadius * std::cos(angle);
    PathFix fix;
    fix.latitude = startLatitude + northOffset / kMetresPerDegree;
    fix.longitude = startLongitude + eastOffset / (kMetresPerDegree * std::cos(startLatitude * kPi / 180));
    fix.altitude = 45 + 5 * std::sin(angle / 4);
    fix.east = kSpeed * std::cos(angle);
    fix.north = -kSpeed * std::sin(angle);
    fix.up = 5 * kSpeed / kRadius / 4 * std::cos(angle / 4);
    return fix;
}

double UtcNow()
{
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(since).count();
}

void EpochClock::Start(long long nowMs)
{
    double utc = UtcNow();
    second_ = std::ceil(utc);
    dueAtMs_ = nowMs + static_cast<long long>((second_ - utc) * 1000);
    started_ = true;
}

double EpochClock::Take(long long nowMs)
{
    double second = second_;
    second_ += 1;
    dueAtMs_ = nowMs + static_cast<long long>((second_ - UtcNow()) * 1000);
    return second;
}

std::vector<std::string> EpochSentences(double unixSeconds, const PathFix &fix)
{
    std::time_t whole = static_cast<std::time_t>(unixSeconds);
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char clock[48], date[48];
    std::snprintf(clock, sizeof clock, "%02d%02d%02d.00", utc.tm_hour, utc.tm_min, utc.tm_sec);
    std::snprintf(date, sizeof date, "%02d%02d%02d", utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100);
    std::string place = Angle(fix.latitude, 2, 'N', 'S') + "," + Angle(fix.longitude, 3, 'E', 'W');
    double knots = std::hypot(fix.east, fix.north) * kKnotsPerMetreSecond;
    char gga[128], rmc[128], vtg[96];
    std::snprintf(gga, sizeof gga, "$GPGGA,%s,%s,1,08,0.9,%.1f,M,47.0,M,,", clock, place.c_str(), fix.altitude);
    std::snprintf(rmc, sizeof rmc, "$GPRMC,%s,A,%s,%.1f,%.1f,%s,,", clock, place.c_str(), knots, Course(fix), date);
    std::snprintf(vtg, sizeof vtg, "$GPVTG,%.1f,T,,M,%.1f,N,%.1f,K", Course(fix), knots, knots * 1.852);
    return {WithChecksum(gga), WithChecksum("$GPGSA,A,3,04,05,09,12,24,25,29,31,,,,,1.8,0.9,1.5"), WithChecksum(rmc),
            WithChecksum(vtg)};
}

} // namespace halvexsim
