// Storage shared by the exception classes: where and on which thread a failure was raised.
#pragma once

#include <string>

#include <tavrin/export.h>

namespace Tavrin::Detail {

struct TAVRIN_API SExceptionFields {
    // Copies both texts and records the calling thread.
    SExceptionFields(const char* file, unsigned int line, const char* function);

    std::string file;
    unsigned int line;
    std::string function;
    unsigned int threadId;
};

}  // namespace Tavrin::Detail
