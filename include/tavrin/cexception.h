// The exception raised by the formats, the text file class and the encoding functions.
#pragma once

#include <memory>

#include <tavrin/exceptionfields.h>
#include <tavrin/iexception.h>

namespace Tavrin {

// Message text "Exception". Construction from (file, line, function) logs one entry on
// the channel "Exception"; copies, clones and assignments do not log.
class TAVRIN_API CException : public IException {
public:
    // `file` and `function` must be non-null, zero-terminated; both are copied.
    CException(const char* file, unsigned int line, const char* function);
    CException(const CException& other);
    CException& operator=(const CException& other);
    ~CException() override;

    std::unique_ptr<IException> Clone() const override;
    const char* GetFilename() const override;
    unsigned int GetCodeLine() const override;
    const char* GetFunctionName() const override;
    unsigned int GetThreadID() const override;

    // Writes the same log entry as the constructor did, again.
    void LogException() const;

private:
    Detail::SExceptionFields m_fields;
};

}  // namespace Tavrin
