#include "thread.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace Tavrin::Platform {

unsigned int CurrentThreadId() noexcept {
    thread_local const unsigned int id = static_cast<unsigned int>(::syscall(SYS_gettid));
    return id;
}

}  // namespace Tavrin::Platform
