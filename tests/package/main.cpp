#include <cstdio>
#include <cstring>

#include <tavrin/tavrin.h>

int main() {
    if (std::strcmp(TAVRIN_VERSION_STRING, TAVRIN_PACKAGE_VERSION) != 0) {
        std::printf("installed header says %s, the package %s\n", TAVRIN_VERSION_STRING,
                    TAVRIN_PACKAGE_VERSION);
        return 1;
    }
    Logging::SetSink({});
    try {
        throw Tavrin::CException("consumer.cpp", 1, "main");
    } catch (const IException& e) {
        std::printf("installed package %s works: %s\n", TAVRIN_VERSION_STRING, e.GetFunctionName());
        return 0;
    }
}
