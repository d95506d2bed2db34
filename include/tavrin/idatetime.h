// The date-time interface through which date-time values cross the serialization interfaces;
// QvDateTime implements it.
#pragma once

#include <tavrin/export.h>

namespace Tavrin {

// A date and time as it crosses the interfaces. Field values are 16-bit unsigned.
class TAVRIN_API IDateTime {
public:
    virtual ~IDateTime() = default;
    // Copies year, month, day, hour, minute, second and milliseconds of `other`, read through
    // its getters; returns this object.
    virtual IDateTime& Assign(const IDateTime& other) = 0;
    virtual unsigned short GetYear() const = 0;
    virtual unsigned short GetMonth() const = 0;
    virtual unsigned short GetDay() const = 0;
    virtual unsigned short GetHour() const = 0;
    virtual unsigned short GetMinute() const = 0;
    virtual unsigned short GetSecond() const = 0;
    virtual unsigned short GetMilliseconds() const = 0;
    virtual void SetYear(unsigned short value) = 0;
    virtual void SetMonth(unsigned short value) = 0;
    virtual void SetDay(unsigned short value) = 0;
    virtual void SetHour(unsigned short value) = 0;
    virtual void SetMinute(unsigned short value) = 0;
    virtual void SetSecond(unsigned short value) = 0;
    virtual void SetMilliseconds(unsigned short value) = 0;

protected:
    IDateTime() = default;
    IDateTime(const IDateTime&) = default;
    IDateTime& operator=(const IDateTime&) = default;
};

}  // namespace Tavrin
