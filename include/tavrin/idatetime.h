/// \file
/// The date-time interface through which date-time values cross the serialization interfaces;
/// QvDateTime implements it.
#pragma once

#include <tavrin/export.h>

namespace Tavrin {

/// A date and time as it crosses the interfaces. Field values are 16-bit unsigned.
class TAVRIN_API IDateTime {
public:
    virtual ~IDateTime() = default;
    /// Copies year, month, day, hour, minute, second and milliseconds of `other`, read through
    /// its getters; returns this object.
    virtual IDateTime& Assign(const IDateTime& other) = 0;
    /// One field of the value: year (e.g. 2024), month (1-12), day of the month (1-31), hour
    /// (0-23), minute, second (0-59) or milliseconds (0-999).
    ///@{
    virtual unsigned short GetYear() const = 0;
    virtual unsigned short GetMonth() const = 0;
    virtual unsigned short GetDay() const = 0;
    virtual unsigned short GetHour() const = 0;
    virtual unsigned short GetMinute() const = 0;
    virtual unsigned short GetSecond() const = 0;
    virtual unsigned short GetMilliseconds() const = 0;
    ///@}
    /// Sets one field, ranges as for the getters; what an implementation does with a value
    /// outside its range is said by the implementation (QvDateTime).
    ///@{
    virtual void SetYear(unsigned short value) = 0;
    virtual void SetMonth(unsigned short value) = 0;
    virtual void SetDay(unsigned short value) = 0;
    virtual void SetHour(unsigned short value) = 0;
    virtual void SetMinute(unsigned short value) = 0;
    virtual void SetSecond(unsigned short value) = 0;
    virtual void SetMilliseconds(unsigned short value) = 0;
    ///@}

protected:
    /// Constructed, copied and assigned only as part of an implementation.
    ///@{
    IDateTime() = default;
    IDateTime(const IDateTime&) = default;
    IDateTime& operator=(const IDateTime&) = default;
    ///@}
};

}  // namespace Tavrin
