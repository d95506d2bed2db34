/// \file
/// A calendar date and time of day in Coordinated Universal Time, with text parsing, pattern
/// formatting and a 12-byte binary form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <tavrin/export.h>
#include <tavrin/idatetime.h>

class IStreamWrite;
class QvStreamReadBinary;

/// Eight 16-bit fields in the order year, month, day of week (0 = Sunday), day, hour, minute,
/// second, milliseconds. The fields always mean UTC; local time exists only while text is parsed
/// or formatted with `local` true. No field is range-checked: setters store what they are given.
///
/// Out-of-range fields never cause undefined behaviour. Conversion to the 100-ns count
/// (ToFileTime, WriteToStream) normalises them arithmetically: month 13 is January of the next
/// year, day 0 the last day of the previous month, hour 25 one hour into the next day, and so on;
/// month 0 counts as December of the previous year. A moment before 1601-01-01 wraps modulo 2^64.
/// A local/UTC conversion of fields that the C library cannot represent leaves them unchanged.
class TAVRIN_API QvDateTime : public Tavrin::IDateTime {
public:
    /// The current time from the system clock, as UTC, all eight fields set.
    QvDateTime();
    /// Copies all eight fields, day of week included.
    ///@{
    QvDateTime(const QvDateTime& other) noexcept = default;
    QvDateTime& operator=(const QvDateTime& other) noexcept = default;
    ///@}
    ~QvDateTime() override;

    /// Assign(other): the seven fields read through its getters; day of week is 0.
    explicit QvDateTime(const Tavrin::IDateTime& other);

    /// Parses "YYYY-MM-DD hh:mm:ss" or "YYYY-MM-DDThh:mm:ss" (19 characters or more; '-' at 4 and
    /// 7, ':' at 13 and 16, ' ' or 'T' at 10; each number scanned as a 16-bit "%hd"; text after
    /// the seconds ignored; milliseconds and day of week 0). The value is taken as UTC.
    /// Throws QvExceptionConversion when the text is null, shorter than 19 characters, has a
    /// wrong separator or a field that does not scan as a number. The forms below throw the same
    /// way; this form, the narrow and the wide forms with `local` each report a raising place
    /// of their own.
    explicit QvDateTime(const char* text);
    /// As above; with `local` true the parsed fields are local time and are converted to UTC.
    QvDateTime(const char* text, bool local);
    /// Wide form of the previous constructor.
    QvDateTime(const wchar_t* text, bool local);
    /// Counted forms of the two constructors above, same rules and raising places as the
    /// zero-terminated forms of the same width; the text ends at its size or at its first NUL,
    /// whichever comes first.
    ///@{
    QvDateTime(std::string_view text, bool local);
    QvDateTime(std::wstring_view text, bool local);
    ///@}

    /// Formats the value through `pattern` (letters Y y m n d j H G h g i s a A l D F M t, '\'
    /// escapes the next character, every other character stands for itself). With `local` true
    /// the value is shown in the machine's time zone. A trailing lone '\' appends nothing.
    /// Weekday and month names come from the user's default locale; when that service fails the
    /// name of the failure ("ERROR_INVALID_PARAMETER", ...) is appended instead. Never throws
    /// except for memory exhaustion.
    ///@{
    std::wstring Format(const wchar_t* pattern, bool local) const;
    std::wstring Format(const std::wstring& pattern, bool local) const;
    ///@}

    /// Appends exactly what Format(L"Y-m-dTH:i:s", false) returns, as ASCII.
    void AppendIso(std::string& out) const;

    /// Writes the binary form: ULong 0, then UInt64 ToFileTime(). Raises what the stream raises.
    void WriteToStream(IStreamWrite& stream) const;
    /// Reads the binary form; a stored version above 0 throws QvExceptionWrongFileVersion, a
    /// stream that ends early throws what its reads throw (Tavrin::CException). All eight fields
    /// are set, day of week included; on an exception the value is unchanged.
    void ReadFromStream(QvStreamReadBinary& stream);

    /// Count of 100-ns intervals since 1601-01-01 00:00:00 of the held fields (day of week
    /// ignored).
    uint64_t ToFileTime() const noexcept;
    /// Sets all eight fields from such a count.
    void SetFromFileTime(uint64_t count) noexcept;
    /// The value of such a count, as SetFromFileTime sets it; the clock is not read.
    static QvDateTime FromFileTime(uint64_t count) noexcept;

    /// Day of the week as stored: 0 = Sunday ... 6 = Saturday.
    unsigned short GetDayOfWeek() const noexcept { return m_dayOfWeek; }
    /// Stores the day of the week as given (no check against the date).
    void SetDayOfWeek(unsigned short value) noexcept { m_dayOfWeek = value; }

    /// Tavrin::IDateTime. Assign copies seven fields and leaves the day of week unchanged.
    QvDateTime& Assign(const Tavrin::IDateTime& other) override;
    /// The field as stored (see IDateTime for the ranges).
    ///@{
    unsigned short GetYear() const override { return m_year; }
    unsigned short GetMonth() const override { return m_month; }
    unsigned short GetDay() const override { return m_day; }
    unsigned short GetHour() const override { return m_hour; }
    unsigned short GetMinute() const override { return m_minute; }
    unsigned short GetSecond() const override { return m_second; }
    unsigned short GetMilliseconds() const override { return m_milliseconds; }
    ///@}
    /// Stores the field as given; nothing is checked or normalised here (see the class for
    /// what out-of-range fields do later).
    ///@{
    void SetYear(unsigned short value) override { m_year = value; }
    void SetMonth(unsigned short value) override { m_month = value; }
    void SetDay(unsigned short value) override { m_day = value; }
    void SetHour(unsigned short value) override { m_hour = value; }
    void SetMinute(unsigned short value) override { m_minute = value; }
    void SetSecond(unsigned short value) override { m_second = value; }
    void SetMilliseconds(unsigned short value) override { m_milliseconds = value; }
    ///@}

private:
    struct SNoClock {};
    explicit QvDateTime(SNoClock) noexcept {}

    unsigned short m_year = 0;
    unsigned short m_month = 0;
    unsigned short m_dayOfWeek = 0;
    unsigned short m_day = 0;
    unsigned short m_hour = 0;
    unsigned short m_minute = 0;
    unsigned short m_second = 0;
    unsigned short m_milliseconds = 0;
};
