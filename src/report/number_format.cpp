#include "report/number_format.h"

#include <array>
#include <string_view>

namespace orbse {
namespace {

constexpr std::uint32_t seconds_per_minute = 60;
constexpr std::uint32_t minutes_per_hour = 60;
constexpr std::uint32_t hours_per_day = 24;
constexpr std::uint32_t seconds_per_hour = seconds_per_minute * minutes_per_hour;
constexpr std::uint32_t seconds_per_day = seconds_per_hour * hours_per_day;

// Timestamps count from the first day of this year.
constexpr std::uint32_t epoch_year = 1970;
constexpr int months_per_year = 12;
constexpr std::array<std::uint32_t, months_per_year> days_in_common_month{31, 28, 31, 30, 31, 30,
                                                                        31, 31, 30, 31, 30, 31};
constexpr int february = 1; // index into days_in_common_month

// The proleptic Gregorian rule: every fourth year, but of the centuries only
// those divisible by 400.
bool is_leap_year(std::uint32_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

std::uint32_t days_in_year(std::uint32_t year)
{
    return is_leap_year(year) ? 366 : 365;
}

std::uint32_t days_in_month(std::uint32_t year, int month_index)
{
    const bool leap_february = month_index == february && is_leap_year(year);
    return days_in_common_month[month_index] + (leap_february ? 1 : 0);
}

struct calendar_time {
    std::uint32_t year = epoch_year;
    std::uint32_t month = 1;
    std::uint32_t day = 1;
    std::uint32_t hour = 0;
    std::uint32_t minute = 0;
    std::uint32_t second = 0;
};

// Whole seconds never need the floating-point day count a timestamp is often
// routed through: plain integer division gives the same components for
// every 32-bit value, with nothing to round and no time zone involved.
calendar_time calendar_time_of(std::uint32_t seconds)
{
    calendar_time time;
    std::uint32_t days_left = seconds / seconds_per_day;
    while (days_left >= days_in_year(time.year)) {
        days_left -= days_in_year(time.year);
        ++time.year;
    }
    int month_index = 0;
    while (days_left >= days_in_month(time.year, month_index)) {
        days_left -= days_in_month(time.year, month_index);
        ++month_index;
    }
    time.month = static_cast<std::uint32_t>(month_index) + 1;
    time.day = days_left + 1;

    const std::uint32_t second_of_day = seconds % seconds_per_day;
    time.hour = second_of_day / seconds_per_hour;
    time.minute = second_of_day % seconds_per_hour / seconds_per_minute;
    time.second = second_of_day % seconds_per_minute;
    return time;
}

// Calendar components stay far below 2^31, so they pass to the paddings
// unchanged.
std::int32_t component(std::uint32_t value)
{
    return static_cast<std::int32_t>(value);
}

// Padding goes by the size of the value, not by the length of its text:
// the first threshold the value lies below decides the zeros in front.
struct padding_step {
    std::int32_t below;
    std::string_view zeros;
};

constexpr std::array<padding_step, 1> two_digit_padding{{{10, "0"}}};
constexpr std::array<padding_step, 3> four_digit_padding{{{10, "000"}, {100, "00"}, {1000, "0"}}};

template <std::size_t step_count>
std::string padded(std::int32_t value, const std::array<padding_step, step_count>& steps)
{
    for (const padding_step& step : steps) {
        if (value < step.below) {
            return std::string(step.zeros) + int_to_text(value);
        }
    }
    return int_to_text(value);
}

} // namespace

std::string int_to_text(std::int32_t value)
{
    number_text_storage storage;
    return std::string(int_to_text(value, storage));
}

std::string_view int_to_text(std::int32_t value, number_text_storage& storage)
{
    return {storage.data(), static_cast<std::size_t>(put_decimal(storage.data(), value) - storage.data())};
}

std::string zero_pad_2(std::int32_t value)
{
    return padded(value, two_digit_padding);
}

std::string zero_pad_4(std::int32_t value)
{
    return padded(value, four_digit_padding);
}

std::string save_date_text(std::uint32_t seconds)
{
    const calendar_time time = calendar_time_of(seconds);
    return zero_pad_4(component(time.year)) + ":" + zero_pad_2(component(time.month)) + ":" +
           zero_pad_2(component(time.day)) + "-" + zero_pad_2(component(time.hour)) + ":" +
           zero_pad_2(component(time.minute)) + ":" + zero_pad_2(component(time.second));
}

} // namespace orbse
