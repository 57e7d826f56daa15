#include "calendar.h"

#include <math.h>
#include <time.h>

static const double OleDateAt1970 = 25569.0;
static const double RolloverDays = (double)RolloverWeeks * DaysPerWeek;

#ifndef HALVEX_BUILD_DATE
#error "the build gives the day it was made as HALVEX_BUILD_DATE, an OLE date"
#endif

static int LeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int OleDateFromCivil(int year, int month, int day, double *date)
{
    static const int monthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return 0;
    if (day > monthDays[month - 1] + (month == 2 && LeapYear(year)))
        return 0;
    /* Days of the proleptic Gregorian calendar from 1970-01-01, by eras of
     * 400 years that start on 1 March. */
    int y = month <= 2 ? year - 1 : year;
    int era = y / 400, yearOfEra = y - era * 400;
    int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    *date = era * 146097.0 + dayOfEra - 719468 + OleDateAt1970;
    return 1;
}

double HostUtcDate(void) { return OleDateAt1970 + (double)time(NULL) / 86400.0; }

double LibraryBuildDate(void) { return HALVEX_BUILD_DATE; }

double RolloverReference(double hostDate)
{
    double built = LibraryBuildDate();
    return hostDate > built ? hostDate : built;
}

int32_t RolloverWeeksBehind(double date, double reference)
{
    double behind = reference - date;
    if (!(behind > RolloverDays / 2))
        return 0; /* NaN included */
    /* The fewest periods that leave the date no more than 512 weeks behind. */
    double periods = ceil((behind - RolloverDays / 2) / RolloverDays);
    if (periods > 64)
        return 0; /* no receiver's week count explains such a date */
    return (int32_t)periods * RolloverWeeks;
}
