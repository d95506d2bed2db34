#include <time.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>
#include <tavrin/qvstreambuffer.h>

#include "logcapture.h"

namespace {

// Weekday and month names come from the environment's locale; pin it before any test runs.
const bool g_localePinned = [] { return ::setenv("LC_ALL", "C", 1) == 0; }();

constexpr unsigned long long kTicksPerSecond = 10000000ull;
constexpr long long kUnixEpochIn1601 = 11644473600ll;

template <class F>
void ExpectConversionAt(F&& f, unsigned int line) {
    LogCapture log;
    try {
        f();
        ADD_FAILURE() << "no exception, expected line " << line;
    } catch (const QvExceptionConversion& e) {
        EXPECT_EQ(e.GetCodeLine(), line);
        EXPECT_STREQ(e.GetFunctionName(), "QvDateTime::QvDateTime");
        EXPECT_TRUE(std::string(e.GetFilename()).ends_with("core/basepool/qvdatetime.cpp"))
            << e.GetFilename();
    }
}

struct SFields {
    unsigned short year, month, day, hour, minute, second, ms;
};

void ExpectFields(const QvDateTime& t, SFields f) {
    EXPECT_EQ(t.GetYear(), f.year);
    EXPECT_EQ(t.GetMonth(), f.month);
    EXPECT_EQ(t.GetDay(), f.day);
    EXPECT_EQ(t.GetHour(), f.hour);
    EXPECT_EQ(t.GetMinute(), f.minute);
    EXPECT_EQ(t.GetSecond(), f.second);
    EXPECT_EQ(t.GetMilliseconds(), f.ms);
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

// Sets TZ for the scope and restores it.
class CTimeZone {
public:
    explicit CTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) m_old = old, m_had = true;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~CTimeZone() {
        if (m_had) {
            ::setenv("TZ", m_old.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::string m_old;
    bool m_had = false;
};

TEST(DateTimeParse, AcceptsBothSeparatorsAndIgnoresTheRest) {
    const QvDateTime space("2024-01-05 10:20:30");
    const QvDateTime t("2024-01-05T10:20:30", false);
    const QvDateTime wide(L"2024-01-05T10:20:30.250Z", false);
    for (const QvDateTime* v : {&space, &t, &wide}) {
        ExpectFields(*v, {2024, 1, 5, 10, 20, 30, 0});
        EXPECT_EQ(v->GetDayOfWeek(), 0);
    }
    ExpectFields(QvDateTime(std::string_view("2024-01-05 10:20:30 and more"), false),
                 {2024, 1, 5, 10, 20, 30, 0});
}

TEST(DateTimeParse, FollowsFormattedInputRules) {
    // No range checks.
    ExpectFields(QvDateTime("2024-13-45 99:99:99", false), {2024, 13, 45, 99, 99, 99, 0});
    // The space of the pattern matches a run of white space; numbers take a sign.
    ExpectFields(QvDateTime("2024-01-05  7:20:30"), {2024, 1, 5, 7, 20, 30, 0});
    ExpectFields(QvDateTime("2024-01-05T-1:20:30"), {2024, 1, 5, 65535, 20, 30, 0});
    ExpectFields(QvDateTime(L"2024-01-05T+1:20:30", false), {2024, 1, 5, 1, 20, 30, 0});
    // 16-bit conversion keeps the low bits.
    ExpectFields(QvDateTime("2024-01-05T10:20:70000"), {2024, 1, 5, 10, 20, 4464, 0});
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
    // With 'T' at 10 a space in its place is not accepted, and vice versa.
    ExpectConversionAt([] { QvDateTime("2024-01-05t10:20:30"); }, 225);
    // A counted text ends at its first NUL.
    ExpectConversionAt(
        [] { QvDateTime(std::string_view("2024-01-05\0" "10:20:30", 19), false); }, 248);
    ExpectConversionAt([] { QvDateTime(std::wstring_view(L"2024-01-05 10:20:3"), false); }, 299);
}

TEST(DateTimeFormat, EveryNumericLetter) {
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
}

TEST(DateTimeFormat, BackslashEscapesOneCharacter) {
    const QvDateTime t = Make({2024, 1, 5, 9, 8, 7, 0});
    EXPECT_EQ(t.Format(L"\\Y", false), L"Y");
    EXPECT_EQ(t.Format(L"\\\\Y", false), L"\\2024");
    EXPECT_EQ(t.Format(L"Y\\", false), L"2024");
}

TEST(DateTimeFormat, DaysInMonth) {
    EXPECT_EQ(Make({1900, 2, 1, 0, 0, 0, 0}).Format(L"t", false), L"28");
    EXPECT_EQ(Make({2000, 2, 1, 0, 0, 0, 0}).Format(L"t", false), L"29");
    EXPECT_EQ(Make({2024, 2, 1, 0, 0, 0, 0}).Format(L"t", false), L"29");
    EXPECT_EQ(Make({2023, 2, 1, 0, 0, 0, 0}).Format(L"t", false), L"28");
    EXPECT_EQ(Make({2023, 4, 1, 0, 0, 0, 0}).Format(L"t", false), L"30");
    EXPECT_EQ(Make({2023, 12, 1, 0, 0, 0, 0}).Format(L"t", false), L"31");
    EXPECT_EQ(Make({2023, 13, 1, 0, 0, 0, 0}).Format(L"[t]", false), L"[]");
    EXPECT_EQ(Make({2023, 0, 1, 0, 0, 0, 0}).Format(L"[t]", false), L"[]");
}

TEST(DateTimeFormat, LocaleNamesAndTheirFailure) {
    ASSERT_TRUE(g_localePinned);
    const QvDateTime friday = Make({2024, 1, 5, 9, 8, 7, 0});
    EXPECT_EQ(friday.Format(L"l D F M", false), L"Friday Fri January Jan");
    // The day of week field plays no part in the name.
    QvDateTime t = friday;
    t.SetDayOfWeek(2);
    EXPECT_EQ(t.Format(L"l", false), L"Friday");
    EXPECT_EQ(Make({1601, 1, 1, 0, 0, 0, 0}).Format(L"l", false), L"Monday");
    const QvDateTime invalid = Make({2024, 13, 5, 0, 0, 0, 0});
    EXPECT_EQ(invalid.Format(L"F|D|Y", false), L"ERROR_INVALID_PARAMETER|ERR|2024");
    EXPECT_EQ(Make({2023, 2, 29, 0, 0, 0, 0}).Format(L"M", false), L"ERROR_INVALID_PARAMETER");
}

TEST(DateTimeFormat, AppendIsoMatchesFormat) {
    const SFields cases[] = {{2024, 1, 5, 9, 8, 7, 250}, {5, 1, 1, 0, 0, 0, 0},
                             {65535, 99, 0, 123, 60, 61, 0}, {12345, 12, 31, 23, 59, 59, 999}};
    for (const SFields& f : cases) {
        const QvDateTime t = Make(f);
        std::string iso = "prefix:";
        t.AppendIso(iso);
        const std::wstring wide = t.Format(L"Y-m-dTH:i:s", false);
        EXPECT_EQ(iso, "prefix:" + std::string(wide.begin(), wide.end()));
    }
}

TEST(DateTimeBinary, KnownCountsAndRoundTrip) {
    EXPECT_EQ(BinaryForm(Make({1601, 1, 1, 0, 0, 0, 0})), std::vector<unsigned char>(12, 0));

    // 2024-01-05 10:20:30.250 UTC, counted independently from the Unix epoch.
    const QvDateTime t = Make({2024, 1, 5, 10, 20, 30, 250});
    const unsigned long long expected = 133489236302500000ull;
    EXPECT_EQ(t.ToFileTime(), expected);
    std::vector<unsigned char> bytes(4, 0);
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<unsigned char>(expected >> (8 * i)));
    EXPECT_EQ(BinaryForm(t), bytes);

    QvStreamReadBinaryBuffer in(bytes.data(), bytes.size());
    QvDateTime back = Make({1, 1, 1, 1, 1, 1, 1});
    back.ReadFromStream(in);
    ExpectFields(back, {2024, 1, 5, 10, 20, 30, 250});
    EXPECT_EQ(back.GetDayOfWeek(), 5);  // Friday
}

TEST(DateTimeBinary, NewerVersionIsRejected) {
    const unsigned char bytes[12] = {1, 0, 0, 0};
    QvStreamReadBinaryBuffer in(bytes, sizeof bytes);
    QvDateTime t;
    LogCapture log;
    EXPECT_THROW(t.ReadFromStream(in), QvExceptionWrongFileVersion);
}

// Every day from 1601 to 2400 (and a few times of day) against the C library's own calendar.
TEST(DateTimeBinary, CalendarMatchesTheCLibrary) {
    const long long first = -kUnixEpochIn1601;
    const long long last = 13569465600ll;  // 2400-01-01
    for (long long unix = first; unix < last; unix += 86400ll * 7 + 3661) {
        const time_t when = static_cast<time_t>(unix);
        tm utc{};
        ASSERT_NE(::gmtime_r(&when, &utc), nullptr);
        const unsigned long long count =
            static_cast<unsigned long long>(unix + kUnixEpochIn1601) * kTicksPerSecond + 70000;
        QvDateTime t;
        t.SetFromFileTime(count);
        ASSERT_EQ(t.GetYear(), utc.tm_year + 1900) << unix;
        ASSERT_EQ(t.GetMonth(), utc.tm_mon + 1) << unix;
        ASSERT_EQ(t.GetDay(), utc.tm_mday) << unix;
        ASSERT_EQ(t.GetHour(), utc.tm_hour) << unix;
        ASSERT_EQ(t.GetMinute(), utc.tm_min) << unix;
        ASSERT_EQ(t.GetSecond(), utc.tm_sec) << unix;
        ASSERT_EQ(t.GetMilliseconds(), 7) << unix;
        ASSERT_EQ(t.GetDayOfWeek(), utc.tm_wday) << unix;
        ASSERT_EQ(t.ToFileTime(), count) << unix;
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
    CTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
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
}

TEST(DateTimeValue, NowCopiesAndAssign) {
    const time_t before = std::time(nullptr);
    const QvDateTime now;
    const time_t after = std::time(nullptr);
    const long long seconds =
        static_cast<long long>(now.ToFileTime() / kTicksPerSecond) - kUnixEpochIn1601;
    EXPECT_GE(seconds, static_cast<long long>(before));
    EXPECT_LE(seconds, static_cast<long long>(after));
    QvDateTime check;
    check.SetFromFileTime(now.ToFileTime());
    EXPECT_EQ(now.GetDayOfWeek(), check.GetDayOfWeek());

    QvDateTime target = Make({2000, 2, 3, 4, 5, 6, 7});
    target.SetDayOfWeek(4);
    const QvDateTime source = Make({2024, 1, 5, 10, 20, 30, 250});
    Tavrin::IDateTime& asInterface = target;
    EXPECT_EQ(&asInterface.Assign(source), &asInterface);
    ExpectFields(target, {2024, 1, 5, 10, 20, 30, 250});
    EXPECT_EQ(target.GetDayOfWeek(), 4);  // untouched by Assign

    const QvDateTime fromInterface(static_cast<const Tavrin::IDateTime&>(source));
    ExpectFields(fromInterface, {2024, 1, 5, 10, 20, 30, 250});
    EXPECT_EQ(fromInterface.GetDayOfWeek(), 0);
}

}  // namespace
