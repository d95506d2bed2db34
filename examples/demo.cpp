// Demonstration of the library: grows with each format.
#include <cstdio>

#include <tavrin/tavrin.h>

int main() {
    try {
        throw Tavrin::CException(__FILE__, __LINE__, "main");
    } catch (const IException& e) {
        std::printf("caught exception from %s:%u in %s on thread %u\n", e.GetFilename(),
                    e.GetCodeLine(), e.GetFunctionName(), e.GetThreadID());
    }
    return 0;
}
