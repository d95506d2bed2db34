// Date-time value: parsing, pattern formatting, the binary form, the calendar, local time.
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/qvstreambuffer.h>
#include <tavrin/tavrin.h>

#include "support/raising.h"

namespace {

// Weekday and month names come from the environment's locale; pin it before any test runs. On
// Windows they come from the user's locale, which the test run gives Wine (tests/CMakeLists.txt).
#if defined(_WIN32)
const bool g_localePinned = true;
#else
const bool g_localePinned = [] { return ::setenv("LC_ALL", "C", 1) == 0; }();
#endif

constexpr unsigned long long kTicksPerSecond = 10000000ull;
constexpr long long kUnixEpochIn1601 = 11644473600ll;

template <class F>
void ExpectConversionAt(F&& f, unsigned int line, CallSite where = CallSite::current()) {
    ExpectThrowsAt<QvExceptionConversion>(f, "core/basepool/qvdatetime.cpp", line,
                                          "QvDateTime::QvDateTime", where);
}

struct SFields {
    unsigned short year, month, day, hour, minute, second, ms;
};

void ExpectFields(const QvDateTime& t, SFields f) {
    EXPECT_EQ(std::tuple(t.GetYear(), t.GetMonth(), t.GetDay(), t.GetHour(), t.GetMinute(),
                         t.GetSecond(), t.GetMilliseconds()),
              std::tuple(f.year, f.month, f.day, f.hour, f.minute, f.second, f.ms));
}

QvDateTime Make(SFields f) {
    QvDateTime t;
    t.SetYear(f.year);
    t.SetMonth(f.month);
    t.SetDay(f.day);
    t.SetHour(f.hour);
    t.SetMinute(f.minute);
    t.SetSecond(f.second);
    t.SetMilliseconds(f.ms);
    return t;
}

std::vector<unsigned char> BinaryForm(const QvDateTime& t) {
    QvStreamWriteBinaryBuffer buffer;
    t.WriteToStream(buffer);
    return {buffer.GetData(), buffer.GetData() + buffer.GetCount()};
}

TEST(DateTimeParse, AcceptsBothSeparatorsAndFormattedInput) {
    for (const QvDateTime& v :
         {QvDateTime("2024-01-05 10:20:30"), QvDateTime("2024-01-05T10:20:30", false),
          QvDateTime(L"2024-01-05T10:20:30.250Z", false),
          QvDateTime(std::string_view("2024-01-05 10:20:30 more"), false)}) {
        ExpectFields(v, {2024, 1, 5, 10, 20, 30, 0});
        EXPECT_EQ(v.GetDayOfWeek(), 0);
    }
    // No range checks.
    ExpectFields(QvDateTime("2024-13-45 99:99:99", false), {2024, 13, 45, 99, 99, 99, 0});
    // The space of the pattern matches a run of white space; numbers take a sign.
    ExpectFields(QvDateTime("2024-01-05  7:20:30"), {2024, 1, 5, 7, 20, 30, 0});
    ExpectFields(QvDateTime("2024-01-05T-1:20:30"), {2024, 1, 5, 65535, 20, 30, 0});
    ExpectFields(QvDateTime(L"2024-01-05T+1:20:30", false), {2024, 1, 5, 1, 20, 30, 0});
    // 16-bit conversion keeps the low bits.
    ExpectFields(QvDateTime("2024-01-05T10:20:70000"), {2024, 1, 5, 10, 20, 4464, 0});
}

// Texts of the written shape but for one character, each read by the general formatted input.
TEST(DateTimeParse, NearlyWrittenShapesReadAsFormattedInput) {
    ExpectFields(QvDateTime("2024-01-05 10:20:301"), {2024, 1, 5, 10, 20, 301, 0});
    ExpectFields(QvDateTime(L"2024-01-05T10:20:3a", false), {2024, 1, 5, 10, 20, 3, 0});
    ExpectFields(QvDateTime(" 024-01-05T10:20:30"), {24, 1, 5, 10, 20, 30, 0});
    ExpectFields(QvDateTime(std::string_view("-024-01-05T10:20:30"), false),
                 {65512, 1, 5, 10, 20, 30, 0});
    ExpectFields(QvDateTime(std::string_view("2024-01-05T10:20:30\0005", 21), false),
                 {2024, 1, 5, 10, 20, 30, 0});
    ExpectConversionAt([] { QvDateTime("2024-01-05 1a:20:30"); }, 225);
    ExpectConversionAt([] { QvDateTime(L"2024-0\x0661-05 10:20:30", false); }, 299);
}

TEST(DateTimeParse, RejectsMalformedTextWithTheConstructorsLine) {
    ExpectConversionAt([] { QvDateTime("2024-01-05X10:20:30"); }, 225);
    ExpectConversionAt([] { QvDateTime("2024-1-05 10:20:30", false); }, 248);
    ExpectConversionAt([] { QvDateTime(L"2024-01-05 10:20:3", false); }, 299);  // 18 chars
    ExpectConversionAt([] { QvDateTime("2024-01-05 10:20:3"); }, 225);
    ExpectConversionAt([] { QvDateTime(static_cast<const char*>(nullptr)); }, 225);
    ExpectConversionAt([] { QvDateTime(static_cast<const wchar_t*>(nullptr), false); }, 299);
    // Shape passes, scan fails: a sign without digits, a letter in place of the seconds.
    ExpectConversionAt([] { QvDateTime("2024-01-05 10:20:-x"); }, 225);
    ExpectConversionAt([] { QvDateTime(L"2024-01-05 10:2x:30", false); }, 299);
    ExpectConversionAt([] { QvDateTime("2024-01-05t10:20:30"); }, 225);
    // A counted text ends at its first NUL.
    ExpectConversionAt([] { QvDateTime(std::string_view("2024-01-05\00010:20:30", 19), false); },
                       248);
    ExpectConversionAt([] { QvDateTime(std::wstring_view(L"2024-01-05 10:20:3"), false); }, 299);
}

TEST(DateTimeFormat, NumericLettersAndEscapes) {
    const QvDateTime t = Make({2024, 1, 5, 9, 8, 7, 123});
    EXPECT_EQ(t.Format(L"Y-m-dTH:i:s", false), L"2024-01-05T09:08:07");
    EXPECT_EQ(t.Format(L"y|n|j|G|h|g|a|A", false), L"24|1|5|9|09|9|am|AM");
    EXPECT_EQ(Make({5, 1, 1, 0, 0, 0, 0}).Format(L"Y y", false), L"0005 05");
    EXPECT_EQ(Make({2024, 1, 1, 12, 30, 0, 0}).Format(L"g:i a h A", false), L"0:30 am 00 AM");
    EXPECT_EQ(Make({2024, 1, 1, 13, 5, 0, 0}).Format(std::wstring(L"g:i a h A"), false),
              L"1:05 pm 01 PM");
    EXPECT_EQ(Make({2024, 1, 1, 0, 0, 0, 0}).Format(L"G g h a", false), L"0 0 00 am");
    // Milliseconds and day of week are never printed; unknown letters stand for themselves.
    EXPECT_EQ(t.Format(L"u w Z x", false), L"u w Z x");
    EXPECT_EQ(t.Format(L"\\Y", false), L"Y");
    EXPECT_EQ(t.Format(L"\\\\Y", false), L"\\2024");
    EXPECT_EQ(t.Format(L"Y\\", false), L"2024");

    // Days in the month: nothing for a month outside 1-12.
    const std::tuple<unsigned short, unsigned short, const wchar_t*> months[] = {
        {1900, 2, L"[28]"}, {2000, 2, L"[29]"},  {2024, 2, L"[29]"}, {2023, 2, L"[28]"},
        {2023, 4, L"[30]"}, {2023, 12, L"[31]"}, {2023, 13, L"[]"},  {2023, 0, L"[]"}};
    for (const auto& [year, month, days] : months) {
        EXPECT_EQ(Make({year, month, 1, 0, 0, 0, 0}).Format(L"[t]", false), days) << year << month;
    }
}

TEST(DateTimeFormat, LocaleNamesAndTheirFailure) {
    ASSERT_TRUE(g_localePinned);
    QvDateTime friday = Make({2024, 1, 5, 9, 8, 7, 0});
    friday.SetDayOfWeek(2);  // plays no part in the name
    EXPECT_EQ(friday.Format(L"l D F M", false), L"Friday Fri January Jan");
    EXPECT_EQ(Make({1601, 1, 1, 0, 0, 0, 0}).Format(L"l", false), L"Monday");
    EXPECT_EQ(Make({2024, 13, 5, 0, 0, 0, 0}).Format(L"F|D|Y", false),
              L"ERROR_INVALID_PARAMETER|ERR|2024");
    EXPECT_EQ(Make({2023, 2, 29, 0, 0, 0, 0}).Format(L"M", false), L"ERROR_INVALID_PARAMETER");
}

TEST(DateTimeFormat, AppendIsoMatchesFormat) {
    for (const SFields& f :
         {SFields{2024, 1, 5, 9, 8, 7, 250}, SFields{5, 1, 1, 0, 0, 0, 0},
          SFields{65535, 99, 0, 123, 60, 61, 0}, SFields{12345, 12, 31, 23, 59, 59, 999}}) {
        std::string iso = "prefix:";
        Make(f).AppendIso(iso);
        const std::wstring wide = Make(f).Format(L"Y-m-dTH:i:s", false);
        EXPECT_EQ(iso, "prefix:" + std::string(wide.begin(), wide.end()));
    }
}

TEST(DateTimeBinary, KnownCountsAndRoundTrip) {
    EXPECT_EQ(BinaryForm(Make({1601, 1, 1, 0, 0, 0, 0})), std::vector<unsigned char>(12, 0));

    // 2024-01-05 10:20:30.250 UTC, counted independently from the Unix epoch.
    const unsigned long long expected =
        (1704450030ull + kUnixEpochIn1601) * kTicksPerSecond + 2500000ull;
    std::vector<unsigned char> bytes(4, 0);
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<unsigned char>(expected >> (8 * i)));
    EXPECT_EQ(BinaryForm(Make({2024, 1, 5, 10, 20, 30, 250})), bytes);

    QvStreamReadBinaryBuffer in(bytes.data(), bytes.size());
    QvDateTime back = Make({1, 1, 1, 1, 1, 1, 1});
    back.ReadFromStream(in);
    ExpectFields(back, {2024, 1, 5, 10, 20, 30, 250});
    EXPECT_EQ(back.GetDayOfWeek(), 5);  // Friday

    const unsigned char newer[12] = {1, 0, 0, 0};
    QvStreamReadBinaryBuffer newerIn(newer, sizeof newer);
    EXPECT_TRUE(Throws<QvExceptionWrongFileVersion>([&] { back.ReadFromStream(newerIn); }));
}

// Every day from 1601 to 2400 (and a few times of day) against the standard library's calendar
// (the C library's gmtime does not reach before 1970 on every system).
TEST(DateTimeBinary, CalendarMatchesTheStandardLibrary) {
    using namespace std::chrono;
    for (long long unix = -kUnixEpochIn1601; unix < 13569465600ll; unix += 86400ll * 7 + 3661) {
        const sys_seconds when{seconds{unix}};
        const sys_days day = floor<days>(when);
        const year_month_day date{day};
        const hh_mm_ss time{when - day};
        const unsigned long long count =
            static_cast<unsigned long long>(unix + kUnixEpochIn1601) * kTicksPerSecond + 70000;
        QvDateTime t;
        t.SetFromFileTime(count);
        ASSERT_EQ(
            std::tuple(t.GetYear(), t.GetMonth(), t.GetDay(), t.GetHour(), t.GetMinute(),
                       t.GetSecond(), t.GetMilliseconds(), t.GetDayOfWeek()),
            std::tuple(static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                       static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                       static_cast<int>(time.minutes().count()),
                       static_cast<int>(time.seconds().count()), 7, weekday{day}.c_encoding()))
            << unix;
        ASSERT_EQ(t.ToFileTime(), count) << unix;
    }
    // Beyond: the last count; and counts over the whole range back from their fields (a separate
    // calendar computation), less what is below a millisecond.
    QvDateTime last;
    last.SetFromFileTime(UINT64_MAX);
    ExpectFields(last, {60056, 5, 28, 5, 36, 10, 955});
    EXPECT_EQ(last.GetDayOfWeek(), 0);
    uint64_t seed = 0xDA7E;  // fixed
    for (int k = 0; k < 200000; ++k) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        const uint64_t count = k < 100000 ? seed : seed % 400000000000000000ull;
        ASSERT_EQ(QvDateTime::FromFileTime(count).ToFileTime(), count - count % 10000) << count;
    }
}

TEST(DateTimeBinary, OutOfRangeFieldsCarry) {
    // Month 13 is January of the next year; day 45, hour 99 ... add up.
    EXPECT_EQ(Make({2024, 13, 45, 99, 99, 99, 0}).ToFileTime(), 133843272390000000ull);
    EXPECT_EQ(Make({2024, 0, 1, 0, 0, 0, 0}).ToFileTime(),
              Make({2023, 12, 1, 0, 0, 0, 0}).ToFileTime());
    EXPECT_EQ(Make({2024, 3, 0, 0, 0, 0, 0}).ToFileTime(),
              Make({2024, 2, 29, 0, 0, 0, 0}).ToFileTime());
    // Before 1601 the count wraps instead of overflowing.
    EXPECT_EQ(Make({1600, 12, 31, 23, 59, 59, 999}).ToFileTime(), 0ull - 10000ull);
}

TEST(DateTimeLocal, ParsesAndFormatsInTheCurrentZone) {
#if defined(_WIN32)
    // The zone is the system's; the test run starts Wine in this zone (tests/CMakeLists.txt).
    if (QvDateTime("2024-01-05 12:00:00", true).GetHour() != 11) {
        GTEST_SKIP() << "the system's time zone is not Central European Time";
    }
#else
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();
#endif
    ExpectFields(QvDateTime("2024-01-05 12:00:00", true), {2024, 1, 5, 11, 0, 0, 0});
    ExpectFields(QvDateTime(L"2024-07-01T12:00:00", true), {2024, 7, 1, 10, 0, 0, 0});
    // Across midnight and the year boundary.
    const QvDateTime early("2024-01-01 00:30:00", true);
    ExpectFields(early, {2023, 12, 31, 23, 30, 0, 0});
    EXPECT_EQ(early.GetDayOfWeek(), 0);  // Sunday
    EXPECT_EQ(early.Format(L"Y-m-d H:i", true), L"2024-01-01 00:30");
    EXPECT_EQ(Make({2024, 7, 1, 10, 0, 0, 0}).Format(L"H:i", true), L"12:00");
    EXPECT_EQ(Make({2024, 7, 1, 10, 0, 0, 0}).Format(L"H:i", false), L"10:00");
    // Fields the zone conversion cannot take stay as they are.
    ExpectFields(QvDateTime("2024-13-45 99:99:99", true), {2024, 13, 45, 99, 99, 99, 0});
    EXPECT_EQ(Make({2024, 13, 1, 10, 0, 0, 0}).Format(L"n H", true), L"13 10");
#if !defined(_WIN32)
    old ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
#endif
}

TEST(DateTimeValue, NowCopiesAndAssign) {
    // The system clock, not time(): glibc's time() reads a coarser clock that can lag the
    // precise one by a tick, which made this check fail now and then.
    const auto unixSeconds = [] {
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    const long long before = unixSeconds();
    const QvDateTime now;
    const long long after = unixSeconds();
    const long long seconds =
        static_cast<long long>(now.ToFileTime() / kTicksPerSecond) - kUnixEpochIn1601;
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    QvDateTime check;
    check.SetFromFileTime(now.ToFileTime());
    EXPECT_EQ(now.GetDayOfWeek(), check.GetDayOfWeek());

    // Assign copies the seven fields and leaves the day of week alone.
    QvDateTime target = Make({2000, 2, 3, 4, 5, 6, 7});
    target.SetDayOfWeek(4);
    const QvDateTime source = Make({2024, 1, 5, 10, 20, 30, 250});
    Tavrin::IDateTime& asInterface = target;
    EXPECT_EQ(&asInterface.Assign(source), &asInterface);
    ExpectFields(target, {2024, 1, 5, 10, 20, 30, 250});
    EXPECT_EQ(target.GetDayOfWeek(), 4);
    const QvDateTime fromInterface(static_cast<const Tavrin::IDateTime&>(source));
    ExpectFields(fromInterface, {2024, 1, 5, 10, 20, 30, 250});
}

}  // namespace
