/// \file
/// The interface every exception of the library implements.
#pragma once

#include <memory>

#include <tavrin/export.h>

/// Where a failure was detected: source file, line, function and raising thread.
class TAVRIN_API IException {
public:
    virtual ~IException() = default;

    /// A heap copy of the complete object, of its own class. Does not log.
    virtual std::unique_ptr<IException> Clone() const = 0;
    /// Path of the source file that raised it; owned by the exception.
    virtual const char* GetFilename() const = 0;
    /// Source line of the raising statement.
    virtual unsigned int GetCodeLine() const = 0;
    /// Qualified name of the raising function; owned by the exception.
    virtual const char* GetFunctionName() const = 0;
    /// Identifier of the thread that constructed the exception (copies keep it).
    virtual unsigned int GetThreadID() const = 0;

protected:
    /// Constructed, copied and assigned only as part of a concrete exception class.
    ///@{
    IException() = default;
    IException(const IException&) = default;
    IException& operator=(const IException&) = default;
    ///@}
};
