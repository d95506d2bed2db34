#include <tavrin/cexception.h>

#include <tavrin/logging.h>

namespace Tavrin {
namespace {

const Logging::CLogger g_logger(L"Exception");
constexpr const wchar_t* kMessage = L"Exception";

void Log(const Detail::SExceptionFields& f) {
    g_logger.Error(f.file.c_str(), static_cast<int>(f.line), f.function.c_str(), kMessage);
}

}  // namespace

CException::CException(const char* file, unsigned int line, const char* function)
    : m_fields(file, line, function) {
    Log(m_fields);
}

CException::CException(const CException& other) = default;

CException& CException::operator=(const CException& other) {
    if (this != &other) m_fields = other.m_fields;
    return *this;
}

CException::~CException() = default;

std::unique_ptr<IException> CException::Clone() const {
    return std::make_unique<CException>(*this);
}

const char* CException::GetFilename() const { return m_fields.file.c_str(); }
unsigned int CException::GetCodeLine() const { return m_fields.line; }
const char* CException::GetFunctionName() const { return m_fields.function.c_str(); }
unsigned int CException::GetThreadID() const { return m_fields.threadId; }

void CException::LogException() const { Log(m_fields); }

}  // namespace Tavrin
