// base/date.h: the calendar record shared by document dates, page dates and
// the index document, and its conversions to and from text.
//
// Pure functions; text results live on the arena passed in. Reading the
// clock is the platform layer's job (date_now in os/platform.h).
#pragma once
#include "base/str.h"

// A zeroed DateTime stands for a missing date.
struct DateTime {
    u16 year;
    u8 month;         // 1 to 12
    u8 day_of_week;   // 0 = Sunday; set only when read from the clock
    u8 day;           // 1 to 31
    u8 hour;
    u8 minute;
    u8 second;
    u16 millisecond;
    u16 reserved;     // keeps the record at twelve bytes
};
static_assert(sizeof(DateTime) == 12, "a DateTime is twelve bytes");

// Reads year, month and day separated by any of "/.-:"; missing pieces stay 0.
DateTime date_parse(Str text);
// A header date ("2026-03-02", " 2026.3.2 ") as a day of the calendar, the
// time left zero; false when it names none (month 13, 30 February, no year).
bool date_read_day(Str text, DateTime *out);
// A day as one number that orders days: year, month and day packed.
inline u64 date_day_key(DateTime d) { return ((u64)d.year << 16) | ((u64)d.month << 8) | d.day; }
Str date_to_ymd(Arena *arena, DateTime date);    // "2025-3-12"
Str date_to_long(Arena *arena, DateTime date);   // "12 Mar 2025, 01:05:09 pm"
DateTime date_from_unix_ms(u64 milliseconds);    // UTC, day of week filled
