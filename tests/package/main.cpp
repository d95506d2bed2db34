#include <cstdio>

#include <tavrin/tavrin.h>

int main() {
    Logging::SetSink({});
    try {
        throw Tavrin::CException("consumer.cpp", 1, "main");
    } catch (const IException& e) {
        std::printf("installed package works: %s\n", e.GetFunctionName());
        return 0;
    }
}
