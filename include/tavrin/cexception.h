/// \file
/// The exception raised by the formats, the text file class, the encoding functions and the
/// binary streams.
#pragma once

#include <memory>

#include <tavrin/detail/exceptionbody.h>

namespace Tavrin {

/// Message text "Exception". Construction from (file, line, function) logs one entry on the
/// channel "Exception"; copies, clones and assignments do not log and keep the raising thread.
class TAVRIN_API CException : public Detail::CExceptionBody {
public:
    /// `file` and `function` must be non-null and zero-terminated; both are copied.
    CException(const char* file, unsigned int line, const char* function);

    std::unique_ptr<IException> Clone() const override;

    /// Writes the same log entry as the constructor did, again.
    void LogException() const;
};

}  // namespace Tavrin
