// The exception boundary of the text writers' Write: one rule for the JSON and the XML writer.
#pragma once

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include "core/basepool/raise.h"
#include "core/platform/threadlocale.h"

namespace Tavrin::Detail {

// The exception that unwinds a cancelled thread. It must pass through every catch-all: a
// thread whose cancellation is swallowed is aborted by the runtime.
#if defined(__GLIBCXX__)
using CForcedUnwind = abi::__forced_unwind;
#else
struct CForcedUnwind {};  // this runtime has none; never thrown, so never caught
#endif

// Runs `write` (one document into the caller's stream) with the calling thread in the "C"
// locale. Whatever escapes from `write` is replaced by the CException of `place` (the Write
// that failed), raised once the thread has its own locale back, so that the exception is
// logged in the application's locale. Before that, `salvage` runs, still in the "C" locale:
// what a writer does with text it had assembled but not yet handed to the stream; anything it
// throws is dropped. A thread's forced unwind is not replaced: it passes through unchanged and
// `salvage` does not run.
template <class Write, class Salvage>
void GuardWrite(ERaise place, Write&& write, Salvage&& salvage) {
    bool failed = false;
    {
        const Platform::CThreadLocaleGuard cLocale;
        try {
            write();
        } catch (CForcedUnwind&) {
            throw;
        } catch (...) {
            failed = true;
            try {
                salvage();
            } catch (CForcedUnwind&) {
                throw;
            } catch (...) {}
        }
    }
    if (failed) Raise(place);
}

// The same for a writer with nothing to salvage.
template <class Write>
void GuardWrite(ERaise place, Write&& write) {
    GuardWrite(place, static_cast<Write&&>(write), [] {});
}

}  // namespace Tavrin::Detail
