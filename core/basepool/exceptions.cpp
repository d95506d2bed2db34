// The exception classes (one shared body) and the raising of the table's places.
#include <tavrin/cexception.h>
#include <tavrin/qvexception.h>
#include <tavrin/qvmappolicyplexmanager.h>
#include <tavrin/qvplexmanager.h>

#include <tavrin/logging.h>

#include "core/basepool/raise.h"
#include "core/platform/thread.h"

namespace Tavrin::Detail {
namespace {

// One logger per exception class, as each class reports on its own logger object.
struct SClassLog {
    Logging::CLogger logger;
    const wchar_t* message;
};

const SClassLog g_logs[] = {
    {Logging::CLogger(L"Exception"), L"Exception"},
    {Logging::CLogger(L"Exception"), L"Exception on data conversion"},
    {Logging::CLogger(L"Exception"), L"Out of memory"},
    {Logging::CLogger(L"Exception"), L"Wrong file version on stream"},
};

}  // namespace

CExceptionBody::CExceptionBody(const char* file, unsigned int line, const char* function,
                               EMessage message)
    : m_file(file), m_function(function), m_line(line), m_threadId(Platform::CurrentThreadId()) {
    Log(message);
}

CExceptionBody::~CExceptionBody() = default;

void CExceptionBody::Log(EMessage message) const {
    const SClassLog& log = g_logs[static_cast<size_t>(message)];
    log.logger.Error(m_file.c_str(), static_cast<int>(m_line), m_function.c_str(), log.message);
}

const char* CExceptionBody::GetFilename() const { return m_file.c_str(); }
unsigned int CExceptionBody::GetCodeLine() const { return m_line; }
const char* CExceptionBody::GetFunctionName() const { return m_function.c_str(); }
unsigned int CExceptionBody::GetThreadID() const { return m_threadId; }

void Raise(ERaise id, const char* function) {
    const SRaisingPlace& place = kRaisingPlaces[static_cast<size_t>(id)];
    if (function == nullptr) function = place.function != nullptr ? place.function : "";
    switch (place.type) {
        case EException::Conversion: throw QvExceptionConversion(place.file, place.line, function);
        case EException::Container: throw QvExceptionContainer(place.file, place.line, function);
        case EException::Version:
            throw QvExceptionWrongFileVersion(place.file, place.line, function);
        case EException::Exception: break;
    }
    throw CException(place.file, place.line, function);
}

void Raise(ERaise id) { Raise(id, nullptr); }

}  // namespace Tavrin::Detail

namespace Tavrin {

CException::CException(const char* file, unsigned int line, const char* function)
    : CExceptionBody(file, line, function, EMessage::Exception) {}

std::unique_ptr<IException> CException::Clone() const {
    return std::make_unique<CException>(*this);
}

void CException::LogException() const { Log(EMessage::Exception); }

}  // namespace Tavrin

QvExceptionConversion::QvExceptionConversion(const char* file, unsigned int line,
                                             const char* function)
    : CExceptionBody(file, line, function, EMessage::Conversion) {}
std::unique_ptr<IException> QvExceptionConversion::Clone() const {
    return std::make_unique<QvExceptionConversion>(*this);
}

QvExceptionContainer::QvExceptionContainer(const char* file, unsigned int line,
                                           const char* function)
    : CExceptionBody(file, line, function, EMessage::Container) {}
std::unique_ptr<IException> QvExceptionContainer::Clone() const {
    return std::make_unique<QvExceptionContainer>(*this);
}

QvExceptionWrongFileVersion::QvExceptionWrongFileVersion(const char* file, unsigned int line,
                                                         const char* function)
    : CExceptionBody(file, line, function, EMessage::WrongFileVersion) {}
std::unique_ptr<IException> QvExceptionWrongFileVersion::Clone() const {
    return std::make_unique<QvExceptionWrongFileVersion>(*this);
}

namespace QvDetail {

void RaiseContainerFailure(EContainerFailure failure, const std::string& function) {
    using Tavrin::Detail::ERaise;
    switch (failure) {
        case EContainerFailure::ZeroBlockSize:
            Tavrin::Detail::Raise(ERaise::PoolZeroBlockSize, function.c_str());
        case EContainerFailure::OutOfMemory:
            Tavrin::Detail::Raise(ERaise::PoolOutOfMemory, function.c_str());
        case EContainerFailure::PoolReplacedOnNonEmptyMap: break;
    }
    Tavrin::Detail::Raise(ERaise::PoolReplacedOnNonEmptyMap, function.c_str());
}

}  // namespace QvDetail
