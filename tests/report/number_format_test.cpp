#include "report/number_format.h"
#include "support/environment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

namespace orbse {
namespace {

struct number_case {
    std::int32_t value;
    const char* text;
};

TEST(number_format, int_to_text_gives_plain_decimal_digits)
{
    for (const number_case entry : {number_case{0, "0"}, number_case{-1, "-1"}, number_case{7, "7"},
                                    number_case{255, "255"}, number_case{65535, "65535"},
                                    number_case{1000000, "1000000"}, number_case{2147483647, "2147483647"},
                                    number_case{std::numeric_limits<std::int32_t>::min(), "-2147483648"}}) {
        EXPECT_EQ(int_to_text(entry.value), entry.text) << entry.value;
    }
}

TEST(number_format, zero_pad_2_pads_below_ten_only)
{
    for (const number_case entry : {number_case{0, "00"}, number_case{9, "09"}, number_case{10, "10"},
                                    number_case{59, "59"}, number_case{99, "99"}, number_case{100, "100"}}) {
        EXPECT_EQ(zero_pad_2(entry.value), entry.text) << entry.value;
    }
}

TEST(number_format, zero_pad_4_pads_by_the_size_of_the_value)
{
    for (const number_case entry :
         {number_case{0, "0000"}, number_case{7, "0007"}, number_case{9, "0009"}, number_case{10, "0010"},
          number_case{42, "0042"}, number_case{99, "0099"}, number_case{100, "0100"}, number_case{999, "0999"},
          number_case{1000, "1000"}, number_case{9999, "9999"}, number_case{12345, "12345"},
          number_case{65535, "65535"}}) {
        EXPECT_EQ(zero_pad_4(entry.value), entry.text) << entry.value;
    }
}

struct date_case {
    std::uint32_t seconds;
    const char* text;
};

TEST(number_format, save_date_text_names_the_utc_calendar_time)
{
    for (const date_case entry : {
             date_case{0, "1970:01:01-00:00:00"},
             date_case{59, "1970:01:01-00:00:59"},
             date_case{60, "1970:01:01-00:01:00"},
             date_case{3599, "1970:01:01-00:59:59"},
             date_case{3600, "1970:01:01-01:00:00"},
             date_case{86399, "1970:01:01-23:59:59"},
             date_case{86400, "1970:01:02-00:00:00"},
             date_case{31535999, "1970:12:31-23:59:59"},
             date_case{31536000, "1971:01:01-00:00:00"},
             date_case{68169600, "1972:02:29-00:00:00"},
             date_case{68214645, "1972:02:29-12:30:45"},
             date_case{946684799, "1999:12:31-23:59:59"},
             date_case{946684800, "2000:01:01-00:00:00"},
             date_case{951782400, "2000:02:29-00:00:00"}, // a century divisible by 400 leaps
             date_case{951868800, "2000:03:01-00:00:00"},
             date_case{1234567890, "2009:02:13-23:31:30"},
             date_case{2147483647, "2038:01:19-03:14:07"},
             date_case{2147483648u, "2038:01:19-03:14:08"}, // bit 31 set: later, never before 1970
             date_case{4102444800u, "2100:01:01-00:00:00"},
             date_case{4107542399u, "2100:02:28-23:59:59"}, // 2100 does not leap
             date_case{4107542400u, "2100:03:01-00:00:00"},
             date_case{4294967295u, "2106:02:07-06:28:15"},
         }) {
        EXPECT_EQ(save_date_text(entry.seconds), entry.text) << entry.seconds;
    }
}

// The standard library's own civil calendar, as an independent reference.
std::string reference_date_text(std::uint32_t seconds)
{
    using namespace std::chrono;
    const sys_seconds moment{std::chrono::seconds{seconds}};
    const sys_days day = floor<days>(moment);
    const year_month_day date{day};
    const hh_mm_ss time{moment - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d:%02u:%02u-%02d:%02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

TEST(number_format, save_date_text_agrees_with_the_civil_calendar_on_every_day)
{
    constexpr std::uint32_t seconds_per_day = 86400;
    constexpr std::uint32_t last_day = std::numeric_limits<std::uint32_t>::max() / seconds_per_day;
    for (std::uint32_t day = 0; day <= last_day; ++day) {
        const std::uint32_t midnight = day * seconds_per_day;
        // A time of day that walks through hours, minutes and seconds.
        const std::uint32_t later = midnight + (day * 7919u) % seconds_per_day;
        for (const std::uint32_t seconds : {midnight, later}) {
            if (day == last_day && seconds < midnight) {
                continue; // past the end of the 32-bit range
            }
            ASSERT_EQ(save_date_text(seconds), reference_date_text(seconds)) << seconds;
        }
    }
    EXPECT_EQ(save_date_text(std::numeric_limits<std::uint32_t>::max()),
              reference_date_text(std::numeric_limits<std::uint32_t>::max()));
}

// Sets the process time zone for as long as it lives.
class time_zone_override {
public:
    explicit time_zone_override(const char* zone)
    {
        if (const char* current = std::getenv("TZ")) {
            saved_ = current;
        }
        testing::set_environment("TZ", zone);
        testing::reread_time_zone();
    }
    ~time_zone_override()
    {
        if (saved_) {
            testing::set_environment("TZ", *saved_);
        } else {
            testing::unset_environment("TZ");
        }
        testing::reread_time_zone();
    }
    time_zone_override(const time_zone_override&) = delete;
    time_zone_override& operator=(const time_zone_override&) = delete;

private:
    std::optional<std::string> saved_;
};

TEST(number_format, save_date_text_ignores_the_machine_time_zone)
{
    for (const char* zone : {"UTC0", "XYZ-14", "ABC+12", "EST5EDT,M3.2.0,M11.1.0", "Europe/Berlin"}) {
        const time_zone_override override_zone(zone);
        EXPECT_EQ(save_date_text(0), "1970:01:01-00:00:00") << zone;
        EXPECT_EQ(save_date_text(951782400), "2000:02:29-00:00:00") << zone;
        EXPECT_EQ(save_date_text(1215259200), "2008:07:05-12:00:00") << zone; // in summer time
    }
}

} // namespace
} // namespace orbse
