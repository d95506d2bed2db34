// Raising place of the map storage policy's exception (a pool replaced on a non-empty map).
#include <tavrin/qvmappolicyplexmanager.h>

#include <tavrin/qvexception.h>

namespace QvDetail {

void ThrowMapPolicyError(unsigned int line, const std::string& typeName, const char* member) {
    const std::string function = typeName + "::" + member;
    throw QvExceptionContainer(__FILE__, line, function.c_str());
}

}  // namespace QvDetail
