// Raising place of the node pool's exceptions. The pool is a template; its failures are thrown
// from here so that they name this source file.
#include <tavrin/qvplexmanager.h>

#include <tavrin/qvexception.h>

namespace QvDetail {

void ThrowPlexManagerError(unsigned int line, const std::string& typeName, const char* member) {
    const std::string function = typeName + "::" + member;
    throw QvExceptionContainer(__FILE__, line, function.c_str());
}

}  // namespace QvDetail
