/// \file
/// The exceptions of the foundation layer (date-time, variant, keyed tables, streams).
///
/// Each constructor from (file, line, function) logs one entry on the channel "Exception" with
/// the class's message text; copies, clones and assignments do not log and keep the raising
/// thread's identifier. `file` and `function` must be non-null and zero-terminated; both are
/// copied.
#pragma once

#include <memory>

#include <tavrin/detail/exceptionbody.h>

/// Message text "Exception on data conversion": malformed date-time text, failed variant
/// conversions.
class TAVRIN_API QvExceptionConversion : public Tavrin::Detail::CExceptionBody {
public:
    /// Records the raising place and thread and logs one entry (see the file's description).
    QvExceptionConversion(const char* file, unsigned int line, const char* function);
    std::unique_ptr<IException> Clone() const override;
};

/// Message text "Out of memory": a node pool that cannot grow, or misuse of a shared pool.
class TAVRIN_API QvExceptionContainer : public Tavrin::Detail::CExceptionBody {
public:
    /// Records the raising place and thread and logs one entry (see the file's description).
    QvExceptionContainer(const char* file, unsigned int line, const char* function);
    std::unique_ptr<IException> Clone() const override;
};

/// Message text "Wrong file version on stream": a stream written by a newer version.
class TAVRIN_API QvExceptionWrongFileVersion : public Tavrin::Detail::CExceptionBody {
public:
    /// Records the raising place and thread and logs one entry (see the file's description).
    QvExceptionWrongFileVersion(const char* file, unsigned int line, const char* function);
    std::unique_ptr<IException> Clone() const override;
};
