#include <tavrin/qvexception.h>

#include <tavrin/logging.h>

namespace {

// One logger per class, as each class reports on its own logger object.
const Logging::CLogger g_conversionLogger(L"Exception");
const Logging::CLogger g_containerLogger(L"Exception");
const Logging::CLogger g_versionLogger(L"Exception");

}  // namespace

#define TAVRIN_DEFINE_QV_EXCEPTION(Name, logger, message)                                 \
    Name::Name(const char* file, unsigned int line, const char* function)                 \
        : m_fields(file, line, function) {                                                \
        logger.Error(m_fields.file.c_str(), static_cast<int>(m_fields.line),              \
                     m_fields.function.c_str(), message);                                 \
    }                                                                                     \
    Name::Name(const Name& other) : IException(other), m_fields(other.m_fields) {}        \
    Name& Name::operator=(const Name& other) {                                            \
        if (this != &other) m_fields = other.m_fields;                                    \
        return *this;                                                                     \
    }                                                                                     \
    Name::~Name() = default;                                                              \
    std::unique_ptr<IException> Name::Clone() const { return std::make_unique<Name>(*this); } \
    const char* Name::GetFilename() const { return m_fields.file.c_str(); }               \
    unsigned int Name::GetCodeLine() const { return m_fields.line; }                      \
    const char* Name::GetFunctionName() const { return m_fields.function.c_str(); }       \
    unsigned int Name::GetThreadID() const { return m_fields.threadId; }

TAVRIN_DEFINE_QV_EXCEPTION(QvExceptionConversion, g_conversionLogger,
                           L"Exception on data conversion")
TAVRIN_DEFINE_QV_EXCEPTION(QvExceptionContainer, g_containerLogger, L"Out of memory")
TAVRIN_DEFINE_QV_EXCEPTION(QvExceptionWrongFileVersion, g_versionLogger,
                           L"Wrong file version on stream")
