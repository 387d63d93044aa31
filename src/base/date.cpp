// base/date.cpp: date text in both directions and the civil calendar.
#include "base/date.h"

static const Str month_names[12] = {
    str_lit("Jan"), str_lit("Feb"), str_lit("Mar"), str_lit("Apr"), str_lit("May"), str_lit("Jun"),
    str_lit("Jul"), str_lit("Aug"), str_lit("Sep"), str_lit("Oct"), str_lit("Nov"), str_lit("Dec"),
};

DateTime date_parse(Str text)
{
    static const Str field_names[3] = {str_lit("year"), str_lit("month"), str_lit("day")};
    DateTime date = {};
    // Pieces are found in place: an empty piece counts, pieces past the
    // third are ignored.
    u64 piece_start = 0;
    u32 index = 0;
    for (u64 i = 0; i <= text.size && index < 3; i += 1) {
        bool cut = i == text.size || text.str[i] == '/' || text.str[i] == '.' || text.str[i] == '-' || text.str[i] == ':';
        if (!cut) continue;
        Str piece = str_trim_right(str_substr(text, piece_start, i));
        u64 value = u64_from_str(piece, 10);
        Str name = field_names[index];
        if (str_match(name, str_lit("year"), StrMatch_CaseInsensitive)) date.year = (u16)value;
        else if (str_match(name, str_lit("month"), StrMatch_CaseInsensitive)) date.month = (u8)value;
        else date.day = (u8)value;
        index += 1;
        piece_start = i + 1;
    }
    return date;
}

Str date_to_ymd(Arena *arena, DateTime date)
{
    return str_pushf(arena, "%d-%d-%d", (int)date.year, (int)date.month, (int)date.day);
}

Str date_to_long(Arena *arena, DateTime date)
{
    Str month = date.month >= 1 && date.month <= 12 ? month_names[date.month - 1] : str_lit("Err");
    int hour12 = date.hour % 12 == 0 ? 12 : date.hour % 12;
    const char *half = date.hour < 12 ? "am" : "pm";
    return str_pushf(arena, "%d %s %d, %02d:%02d:%02d %s", (int)date.day, month.str, (int)date.year, hour12,
                     (int)date.minute, (int)date.second, half);
}

DateTime date_from_unix_ms(u64 milliseconds)
{
    DateTime date = {};
    u64 seconds = milliseconds / 1000;
    s64 days = (s64)(seconds / 86400);
    u64 rest = seconds % 86400;
    date.hour = (u8)(rest / 3600);
    date.minute = (u8)(rest / 60 % 60);
    date.second = (u8)(rest % 60);
    date.millisecond = (u16)(milliseconds % 1000);
    date.day_of_week = (u8)((days + 4) % 7);   // 1 January 1970 was a Thursday
    // Civil date from a day count (proleptic Gregorian, era of 400 years).
    s64 z = days + 719468;
    s64 era = z / 146097;
    s64 doe = z - era * 146097;
    s64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    s64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    s64 mp = (5 * doy + 2) / 153;
    s64 day = doy - (153 * mp + 2) / 5 + 1;
    s64 month = mp < 10 ? mp + 3 : mp - 9;
    s64 year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    date.year = (u16)year;
    date.month = (u8)month;
    date.day = (u8)day;
    return date;
}

static u32 days_in_month(u32 year, u32 month)
{
    static const u8 days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

bool date_read_day(Str text, DateTime *out)
{
    DateTime date = date_parse(str_trim(text));
    bool valid = date.year >= 1 && date.year <= 9999 && date.month >= 1 && date.month <= 12 && date.day >= 1 &&
                 date.day <= days_in_month(date.year, date.month);
    if (!valid) return false;
    *out = DateTime{};
    out->year = date.year;
    out->month = date.month;
    out->day = date.day;
    return true;
}
