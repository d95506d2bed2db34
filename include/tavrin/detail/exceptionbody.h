/// \file
/// What every exception of the library holds: where it was raised and by which thread.
/// Not meant to be used directly; catch IException or one of the concrete classes.
#pragma once

#include <string>

#include <tavrin/iexception.h>

namespace Tavrin::Detail {

/// The four concrete exception classes derive from this body and add only their message
/// text (one log channel entry per construction) and Clone.
class TAVRIN_API CExceptionBody : public IException {
public:
    const char* GetFilename() const override;
    unsigned int GetCodeLine() const override;
    const char* GetFunctionName() const override;
    unsigned int GetThreadID() const override;
    /// Public, so that the body is never a base that only a derived class can destroy.
    ~CExceptionBody() override;

protected:
    /// The message texts of the concrete classes, each logged on its class's own logger.
    enum class EMessage { Exception, Conversion, Container, WrongFileVersion };

    /// Copies `file` and `function` (both non-null, zero-terminated), records the calling
    /// thread and writes one log entry with the message of `message`.
    CExceptionBody(const char* file, unsigned int line, const char* function, EMessage message);
    /// Copies keep the raising thread and do not log.
    ///@{
    CExceptionBody(const CExceptionBody&) = default;
    CExceptionBody& operator=(const CExceptionBody&) = default;
    ///@}

    /// Writes the log entry of `message` for this raising place (again).
    void Log(EMessage message) const;

private:
    std::string m_file;
    std::string m_function;
    unsigned int m_line;
    unsigned int m_threadId;
};

}  // namespace Tavrin::Detail
