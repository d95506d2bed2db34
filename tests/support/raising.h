// Catching an exception of the library and checking the place that raised it; capturing the
// log entries that exceptions write.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

// Captures log entries for the lifetime of the object and restores the previous sink.
class LogCapture {
public:
    LogCapture() {
        m_previous = Logging::SetSink([this](const Logging::SLogEntry& e) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_entries.push_back(e);
        });
    }
    ~LogCapture() { Logging::SetSink(std::move(m_previous)); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Logging::SLogEntry> Entries() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries;
    }
    size_t Count() const { return Entries().size(); }

private:
    mutable std::mutex m_mutex;
    std::vector<Logging::SLogEntry> m_entries;
    Logging::LogSink m_previous;
};

// The place a helper was called from (std::source_location does not build with clang 14 and
// this standard library; the builtins work on GCC and clang alike).
struct CallSite {
    static CallSite current(const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
        return CallSite{file, line};
    }
    const char* file_name() const { return m_file; }
    int line() const { return m_line; }

    const char* m_file;
    int m_line;
};

// What a call threw: nothing (thrown false), or the raising place of an exception of the
// expected type; and the log entries written meanwhile.
struct SThrown {
    bool thrown = false;
    std::string file;
    unsigned int line = 0;
    std::string function;
    std::vector<Logging::SLogEntry> entries;
};

template <class E = IException, class F>
SThrown CatchThrown(F&& f) {
    LogCapture log;
    SThrown t;
    try {
        f();
    } catch (const E& e) {
        t = {true, e.GetFilename(), e.GetCodeLine(), e.GetFunctionName(), {}};
    }
    t.entries = log.Entries();
    return t;
}

template <class E = IException, class F>
bool Throws(F&& f) {
    return CatchThrown<E>(f).thrown;
}

// Expects `f` to throw E from the source file whose path ends in `file`, at `line` (0: any
// line) in `function`. Failures name `where`. Returns what was caught.
template <class E = IException, class F>
SThrown ExpectRaisedAt(F&& f, std::string_view file, unsigned int line, std::string_view function,
                       CallSite where = CallSite::current()) {
    const testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), function);
    const SThrown t = CatchThrown<E>(f);
    EXPECT_TRUE(t.thrown) << "expected " << function << " at line " << line;
    if (!t.thrown) return t;
    EXPECT_TRUE(t.file.ends_with(file)) << t.file;
    if (line != 0) {
        EXPECT_EQ(t.line, line) << function;
    }
    EXPECT_EQ(t.function, function);
    return t;
}

// ExpectRaisedAt, and the exception wrote exactly one log entry.
template <class E = IException, class F>
SThrown ExpectThrowsAt(F&& f, std::string_view file, unsigned int line, std::string_view function,
                       CallSite where = CallSite::current()) {
    const SThrown t = ExpectRaisedAt<E>(f, file, line, function, where);
    if (t.thrown) {
        const testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "");
        EXPECT_EQ(t.entries.size(), 1u) << function;
    }
    return t;
}
