#include <tavrin/exceptionfields.h>

#include "core/platform/thread.h"

namespace Tavrin::Detail {

SExceptionFields::SExceptionFields(const char* file_, unsigned int line_, const char* function_)
    : file(file_), line(line_), function(function_), threadId(Platform::CurrentThreadId()) {}

}  // namespace Tavrin::Detail
