/* Dates as hosts take them, OLE Automation dates (days since 1899-12-30),
 * and the GPS week rollover: receivers count the week in 10 bits and, once
 * the true date has passed the 1024-week window their firmware assumes,
 * report dates exactly 1024 weeks early. One rule gives the true date. */
#ifndef HALVEX_CALENDAR_H
#define HALVEX_CALENDAR_H

#include <stdint.h>

enum { RolloverWeeks = 1024, DaysPerWeek = 7 };

/* Receivers count seconds from 1989-12-31 00:00 UTC, this OLE date. */
#define RECEIVER_EPOCH_DATE 32873.0

/* The OLE date of a civil date at midnight in *date; 0 when it is no real
 * date (month 13, February 30, a year before 1 or after 9999). */
int OleDateFromCivil(int year, int month, int day, double *date);
/* The host's UTC clock as an OLE date. */
double HostUtcDate(void);
/* The day the library was built, as an OLE date. */
double LibraryBuildDate(void);
/* What a receiver's dates are judged against: the host's clock, but never
 * earlier than the build day, so that a board that boots in 1970 does not
 * turn a right date into a wrong one. */
double RolloverReference(double hostDate);
/* The weeks (0, 1024, 2048 ...) to add to a receiver's date: a date more
 * than 512 weeks before the reference moves forward by the whole periods
 * that bring it nearest the reference; any other date stays as it is. */
int32_t RolloverWeeksBehind(double date, double reference);

#endif
