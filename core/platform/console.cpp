// The standard streams: terminal test and binary mode, the system's way.
#include <tavrin/console.h>

#include <cstdio>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace Tavrin::Console {

namespace {
int Descriptor(EStream stream) noexcept {
    switch (stream) {
        case EStream::Input: return 0;
        case EStream::Output: return 1;
        default: return 2;
    }
}
}  // namespace

bool IsTerminal(EStream stream) noexcept {
#if defined(_WIN32)
    return _isatty(Descriptor(stream)) != 0;
#else
    return isatty(Descriptor(stream)) != 0;
#endif
}

void SetBinary([[maybe_unused]] EStream stream) noexcept {
#if defined(_WIN32)
    _setmode(Descriptor(stream), _O_BINARY);
#endif
}

}  // namespace Tavrin::Console
