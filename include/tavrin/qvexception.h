// The exceptions of the foundation layer (date-time, variant, keyed tables, streams).
#pragma once

#include <memory>

#include <tavrin/exceptionfields.h>
#include <tavrin/iexception.h>

// Each constructor from (file, line, function) logs one entry on the channel "Exception"
// with the class's message text; copies, clones and assignments do not log and keep the
// raising thread's identifier.
#define TAVRIN_DECLARE_QV_EXCEPTION(Name)                                        \
    class TAVRIN_API Name : public IException {                                  \
    public:                                                                      \
        Name(const char* file, unsigned int line, const char* function);         \
        Name(const Name& other);                                                 \
        Name& operator=(const Name& other);                                      \
        ~Name() override;                                                        \
        std::unique_ptr<IException> Clone() const override;                      \
        const char* GetFilename() const override;                                \
        unsigned int GetCodeLine() const override;                               \
        const char* GetFunctionName() const override;                            \
        unsigned int GetThreadID() const override;                               \
                                                                                 \
    private:                                                                     \
        Tavrin::Detail::SExceptionFields m_fields;                               \
    };

// Message text "Exception on data conversion": malformed date-time text, failed variant
// conversions.
TAVRIN_DECLARE_QV_EXCEPTION(QvExceptionConversion)
// Message text "Out of memory": a node pool that cannot grow, or misuse of a shared pool.
TAVRIN_DECLARE_QV_EXCEPTION(QvExceptionContainer)
// Message text "Wrong file version on stream": a stream written by a newer version.
TAVRIN_DECLARE_QV_EXCEPTION(QvExceptionWrongFileVersion)

#undef TAVRIN_DECLARE_QV_EXCEPTION
