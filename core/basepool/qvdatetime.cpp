#include <tavrin/qvdatetime.h>

#include <cstring>
#include <cwchar>

#include <tavrin/qvstream.h>

#include "core/basepool/chars.h"
#include "core/basepool/raise.h"
#include "core/platform/clock.h"
#include "core/platform/localenames.h"
#include "core/platform/timezone.h"

namespace {

using Tavrin::Detail::ERaise;
using Tavrin::Detail::IsDigit;
using Tavrin::Detail::IsSpace;
using Tavrin::Detail::Raise;

// Days from 0000-03-01-based civil arithmetic to 1601-01-01, and 1601-01-01 to 1970-01-01.
constexpr long long kDays1601To1970 = 134774;
constexpr unsigned long long kTicksPerSecond = 10000000ull;
constexpr unsigned long long kTicksPerMillisecond = 10000ull;
constexpr long long kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date; month 1..12, day 1..31.
constexpr long long DaysFromCivil(long long year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

struct SCivil {
    uint32_t year;
    uint32_t month;
    uint32_t day;
};

// The date of a day counted from 1601-01-01 (day 0), for every day that a 64-bit count of
// 100-ns intervals reaches. Division-free form of the proleptic Gregorian calendar: the day
// is first counted from 0000-03-01, so that the leap day ends each year, and the century,
// year and month are read off by multiplications ("Euclidean affine functions and their
// application to calendar algorithms", 2022). Checked against the plain arithmetic for every
// such day.
constexpr SCivil CivilFrom1601(uint32_t days) {
    const uint32_t n = days + 584694;  // 1601-01-01 counted from 0000-03-01
    const uint32_t n1 = 4 * n + 3;
    const uint32_t century = n1 / 146097;
    const uint32_t n2 = n1 % 146097 / 4 * 4 + 3;
    const uint64_t p2 = uint64_t(2939745) * n2;
    const uint32_t yearOfCentury = static_cast<uint32_t>(p2 >> 32);
    const uint32_t dayOfYear = static_cast<uint32_t>(p2) / 2939745 / 4;  // from March 1
    const uint32_t n3 = 2141 * dayOfYear + 197913;
    const uint32_t month = n3 >> 16;  // 3 .. 14
    const uint32_t day = (n3 & 0xFFFF) / 2141 + 1;
    const uint32_t january = dayOfYear >= 306 ? 1 : 0;  // January and February: next year
    return {100 * century + yearOfCentury + january, january ? month - 12 : month, day};
}

static_assert(DaysFromCivil(1601, 1, 1) == -kDays1601To1970);
static_assert(CivilFrom1601(0).year == 1601 && CivilFrom1601(0).month == 1 &&
              CivilFrom1601(0).day == 1);
static_assert(
    CivilFrom1601(static_cast<uint32_t>(DaysFromCivil(2000, 2, 29) + kDays1601To1970)).day == 29);
static_assert(
    CivilFrom1601(static_cast<uint32_t>(DaysFromCivil(2100, 3, 1) + kDays1601To1970)).month == 3);
// The last day a 64-bit count reaches.
static_assert(CivilFrom1601(static_cast<uint32_t>(UINT64_MAX / 864000000000ull)).year == 60056);

// Formatted-input rules of "%hd" and of the literal characters of the pattern, with the white
// space of the C locale, the only one the scanner knows.
template <class Ch>
class CScanner {
public:
    CScanner(const Ch* begin, const Ch* end) : m_p(begin), m_end(end) {}

    // Leading white space, optional sign, at least one digit; converted modulo 2^16.
    bool Number(unsigned short& out) {
        SkipSpaces();
        bool negative = false;
        if (m_p != m_end && (*m_p == Ch('+') || *m_p == Ch('-'))) {
            negative = *m_p == Ch('-');
            ++m_p;
        }
        if (m_p == m_end || !IsDigit(*m_p)) return false;
        unsigned int value = 0;
        while (m_p != m_end && IsDigit(*m_p)) {
            value = value * 10u + static_cast<unsigned int>(*m_p - Ch('0'));
            ++m_p;
        }
        if (negative) value = 0u - value;
        out = static_cast<unsigned short>(value);
        return true;
    }

    bool Literal(char c) {
        if (m_p == m_end || *m_p != static_cast<Ch>(c)) return false;
        ++m_p;
        return true;
    }

    void SkipSpaces() {
        while (m_p != m_end && IsSpace(*m_p)) ++m_p;
    }

private:
    const Ch* m_p;
    const Ch* m_end;
};

struct SParsed {
    unsigned short year, month, day, hour, minute, second;
};

// Shape check, then "%hd-%hd-%hd %hd:%hd:%hd" (or with 'T'). The text ends at `length` or at
// its first NUL.
// The two-digit value at p, or a value above 99 when either is not a decimal digit.
template <class Ch>
unsigned int TwoDigits(const Ch* p) noexcept {
    const auto high = static_cast<unsigned int>(p[0]) - '0';
    const auto low = static_cast<unsigned int>(p[1]) - '0';
    return high > 9 || low > 9 ? 100u : high * 10 + low;
}

// The common text, "DDDD-DD-DD DD:DD:DD" (or with 'T') and no digit after it, read directly:
// the scan below reads the same fields from it. False for anything else, left to that scan.
template <class Ch>
bool ParseExact(const Ch* text, size_t length, SParsed& out) noexcept {
    if (length < 19 || (length > 19 && IsDigit(text[19])) || text[4] != Ch('-') ||
        text[7] != Ch('-') || (text[10] != Ch(' ') && text[10] != Ch('T')) || text[13] != Ch(':') ||
        text[16] != Ch(':')) {
        return false;
    }
    const unsigned int century = TwoDigits(text);
    const unsigned int year = TwoDigits(text + 2);
    const unsigned int month = TwoDigits(text + 5);
    const unsigned int day = TwoDigits(text + 8);
    const unsigned int hour = TwoDigits(text + 11);
    const unsigned int minute = TwoDigits(text + 14);
    const unsigned int second = TwoDigits(text + 17);
    if (century > 99 || year > 99 || month > 99 || day > 99 || hour > 99 || minute > 99 ||
        second > 99) {
        return false;
    }
    out = SParsed{static_cast<unsigned short>(century * 100 + year),
                  static_cast<unsigned short>(month),
                  static_cast<unsigned short>(day),
                  static_cast<unsigned short>(hour),
                  static_cast<unsigned short>(minute),
                  static_cast<unsigned short>(second)};
    return true;
}

template <class Ch>
bool ParseText(const Ch* text, size_t length, SParsed& out) {
    if (!text) return false;
    if (ParseExact(text, length, out)) return true;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == Ch(0)) {
            length = i;
            break;
        }
    }
    if (length < 19 || text[4] != Ch('-') || text[7] != Ch('-') || text[13] != Ch(':') ||
        text[16] != Ch(':') || (text[10] != Ch(' ') && text[10] != Ch('T'))) {
        return false;
    }
    CScanner<Ch> scan(text, text + length);
    SParsed p{};
    if (!scan.Number(p.year) || !scan.Literal('-') || !scan.Number(p.month) || !scan.Literal('-') ||
        !scan.Number(p.day)) {
        return false;
    }
    // A space in the pattern matches any run of white space, also none.
    if (text[10] == Ch(' ')) {
        scan.SkipSpaces();
    } else if (!scan.Literal('T')) {
        return false;
    }
    if (!scan.Number(p.hour) || !scan.Literal(':') || !scan.Number(p.minute) ||
        !scan.Literal(':') || !scan.Number(p.second)) {
        return false;
    }
    out = p;
    return true;
}

size_t Length(const char* text) { return text ? std::strlen(text) : 0; }
size_t Length(const wchar_t* text) { return text ? std::wcslen(text) : 0; }

template <class String>
void AppendDecimal(String& out, unsigned int value, unsigned int minWidth) {
    char digits[12];
    unsigned int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (unsigned int i = n; i < minWidth; ++i) out.push_back('0');
    while (n > 0) out.push_back(static_cast<typename String::value_type>(digits[--n]));
}

bool IsLeapYear(unsigned int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

const wchar_t* ErrorName(unsigned int error) {
    switch (error) {
        case Tavrin::Platform::kErrorInvalidParameter: return L"ERROR_INVALID_PARAMETER";
        case Tavrin::Platform::kErrorInsufficientBuffer: return L"ERROR_INSUFFICIENT_BUFFER";
        case Tavrin::Platform::kErrorInvalidFlags: return L"ERROR_INVALID_FLAGS";
        default: return L"UNKNOWN ERROR";
    }
}

Tavrin::Platform::STimeFields ToFields(const QvDateTime& value) {
    return {value.GetYear(), value.GetMonth(),  value.GetDayOfWeek(), value.GetDay(),
            value.GetHour(), value.GetMinute(), value.GetSecond(),    value.GetMilliseconds()};
}

// Body of the parsing constructors; `failure` names the constructor. Day of week and
// milliseconds stay 0 unless the local-time conversion sets the day of week.
template <class Ch>
void ParseInto(QvDateTime& self, const Ch* text, size_t length, bool local, ERaise failure) {
    SParsed parsed{};
    if (!ParseText(text, length, parsed)) {
        Raise(failure);
    }
    Tavrin::Platform::STimeFields f{parsed.year,   parsed.month,  0, parsed.day, parsed.hour,
                                    parsed.minute, parsed.second, 0};
    if (local) Tavrin::Platform::LocalToUtc(f);  // out-of-range fields stay as parsed
    self.SetYear(f.year);
    self.SetMonth(f.month);
    self.SetDayOfWeek(f.dayOfWeek);
    self.SetDay(f.day);
    self.SetHour(f.hour);
    self.SetMinute(f.minute);
    self.SetSecond(f.second);
    self.SetMilliseconds(0);
}

}  // namespace

QvDateTime::QvDateTime() { SetFromFileTime(Tavrin::Platform::CurrentUtcFileTime()); }

QvDateTime::~QvDateTime() = default;

QvDateTime::QvDateTime(const Tavrin::IDateTime& other) { Assign(other); }

QvDateTime::QvDateTime(const char* text) {
    ParseInto(*this, text, Length(text), false, ERaise::DateTimeParse);
}

QvDateTime::QvDateTime(const char* text, bool local) {
    ParseInto(*this, text, Length(text), local, ERaise::DateTimeParseLocal);
}

QvDateTime::QvDateTime(const wchar_t* text, bool local) {
    ParseInto(*this, text, Length(text), local, ERaise::DateTimeParseWideLocal);
}

QvDateTime::QvDateTime(std::string_view text, bool local) {
    ParseInto(*this, text.data(), text.size(), local, ERaise::DateTimeParseLocal);
}

QvDateTime::QvDateTime(std::wstring_view text, bool local) {
    ParseInto(*this, text.data(), text.size(), local, ERaise::DateTimeParseWideLocal);
}

QvDateTime& QvDateTime::Assign(const Tavrin::IDateTime& other) {
    m_year = other.GetYear();
    m_month = other.GetMonth();
    m_day = other.GetDay();
    m_hour = other.GetHour();
    m_minute = other.GetMinute();
    m_second = other.GetSecond();
    m_milliseconds = other.GetMilliseconds();
    return *this;
}

std::wstring QvDateTime::Format(const std::wstring& pattern, bool local) const {
    return Format(pattern.c_str(), local);
}

std::wstring QvDateTime::Format(const wchar_t* pattern, bool local) const {
    Tavrin::Platform::STimeFields f = ToFields(*this);
    if (local) Tavrin::Platform::UtcToLocal(f);

    std::wstring out;
    if (!pattern) return out;
    auto appendName = [&](Tavrin::Platform::ELocaleName which, size_t maxLength) {
        std::wstring name;
        const unsigned int error =
            Tavrin::Platform::AppendLocaleName(which, f.year, f.month, f.day, name);
        if (error != 0) name = ErrorName(error);
        out.append(name, 0, maxLength);
    };
    for (const wchar_t* p = pattern; *p; ++p) {
        switch (*p) {
            case L'Y': AppendDecimal(out, f.year, 4); break;
            case L'y': {
                std::wstring year;
                AppendDecimal(year, f.year, 2);
                out.append(year, year.size() - 2, 2);
                break;
            }
            case L'm': AppendDecimal(out, f.month, 2); break;
            case L'n': AppendDecimal(out, f.month, 1); break;
            case L'd': AppendDecimal(out, f.day, 2); break;
            case L'j': AppendDecimal(out, f.day, 1); break;
            case L'H': AppendDecimal(out, f.hour, 2); break;
            case L'G': AppendDecimal(out, f.hour, 1); break;
            case L'h': AppendDecimal(out, f.hour % 12u, 2); break;
            case L'g': AppendDecimal(out, f.hour % 12u, 1); break;
            case L'i': AppendDecimal(out, f.minute, 2); break;
            case L's': AppendDecimal(out, f.second, 2); break;
            case L'a': out += f.hour <= 12 ? L"am" : L"pm"; break;
            case L'A': out += f.hour <= 12 ? L"AM" : L"PM"; break;
            case L'l':
                appendName(Tavrin::Platform::ELocaleName::Weekday, std::wstring::npos);
                break;
            case L'D': appendName(Tavrin::Platform::ELocaleName::Weekday, 3); break;
            case L'F': appendName(Tavrin::Platform::ELocaleName::Month, std::wstring::npos); break;
            case L'M':
                appendName(Tavrin::Platform::ELocaleName::MonthAbbreviated, std::wstring::npos);
                break;
            case L't':
                switch (f.month) {
                    case 1:
                    case 3:
                    case 5:
                    case 7:
                    case 8:
                    case 10:
                    case 12: out += L"31"; break;
                    case 4:
                    case 6:
                    case 9:
                    case 11: out += L"30"; break;
                    case 2: out += IsLeapYear(f.year) ? L"29" : L"28"; break;
                    default: break;
                }
                break;
            case L'\\':
                // A backslash at the very end escapes nothing and appends nothing.
                if (p[1] == L'\0') return out;
                out.push_back(*++p);
                break;
            default: out.push_back(*p); break;
        }
    }
    return out;
}

void QvDateTime::AppendIso(std::string& out) const {
    AppendDecimal(out, m_year, 4);
    out.push_back('-');
    AppendDecimal(out, m_month, 2);
    out.push_back('-');
    AppendDecimal(out, m_day, 2);
    out.push_back('T');
    AppendDecimal(out, m_hour, 2);
    out.push_back(':');
    AppendDecimal(out, m_minute, 2);
    out.push_back(':');
    AppendDecimal(out, m_second, 2);
}

uint64_t QvDateTime::ToFileTime() const noexcept {
    // Months outside 1..12 carry into the year; days, hours, ... simply add up.
    const long long month0 = static_cast<long long>(m_month) - 1;
    const long long yearCarry = month0 >= 0 ? month0 / 12 : -1;  // month 0 only below 0
    const unsigned month = static_cast<unsigned>(month0 - yearCarry * 12) + 1;
    const long long days = DaysFromCivil(static_cast<long long>(m_year) + yearCarry, month, 1) +
                           kDays1601To1970 + (static_cast<long long>(m_day) - 1);
    const long long seconds = days * kSecondsPerDay + static_cast<long long>(m_hour) * 3600 +
                              static_cast<long long>(m_minute) * 60 + m_second;
    // Unsigned arithmetic: a moment before 1601 or past the 64-bit range wraps, defined.
    return static_cast<uint64_t>(seconds) * kTicksPerSecond +
           static_cast<uint64_t>(m_milliseconds) * kTicksPerMillisecond;
}

void QvDateTime::SetFromFileTime(uint64_t count) noexcept {
    const uint64_t totalMilliseconds = count / kTicksPerMillisecond;
    const uint64_t totalSeconds = totalMilliseconds / 1000;
    constexpr uint64_t kDaySeconds = 86400;
    const uint32_t days = static_cast<uint32_t>(totalSeconds / kDaySeconds);  // below 2^25
    const uint32_t secondOfDay = static_cast<uint32_t>(totalSeconds - days * kDaySeconds);
    const SCivil civil = CivilFrom1601(days);
    m_year = static_cast<unsigned short>(civil.year);  // at most 60056
    m_month = static_cast<unsigned short>(civil.month);
    m_day = static_cast<unsigned short>(civil.day);
    m_dayOfWeek = static_cast<unsigned short>((days + 1) % 7);  // 1601-01-01 was a Monday
    m_hour = static_cast<unsigned short>(secondOfDay / 3600);
    m_minute = static_cast<unsigned short>(secondOfDay / 60 % 60);
    m_second = static_cast<unsigned short>(secondOfDay % 60);
    m_milliseconds = static_cast<unsigned short>(totalMilliseconds % 1000);
}

QvDateTime QvDateTime::FromFileTime(uint64_t count) noexcept {
    QvDateTime value{SNoClock{}};
    value.SetFromFileTime(count);
    return value;
}

void QvDateTime::WriteToStream(IStreamWrite& stream) const {
    stream.WriteULong(0);
    stream.WriteUInt64(ToFileTime());
}

void QvDateTime::ReadFromStream(QvStreamReadBinary& stream) {
    stream.ReadAndCompareVersion(0);
    uint64_t count = 0;
    stream.ReadUInt64(count);
    SetFromFileTime(count);
}
