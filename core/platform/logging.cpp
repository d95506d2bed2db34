// Logging channels over one process-wide, replaceable sink.
#include <tavrin/logging.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <mutex>

namespace Logging {
namespace {

void DefaultSink(const SLogEntry& entry) {
    std::fprintf(stderr, "[%ls] %s(%d) %s: %ls\n", entry.channel.c_str(), entry.file.c_str(),
                 entry.line, entry.function.c_str(), entry.message.c_str());
}

struct SinkHolder {
    std::mutex mutex;
    std::shared_ptr<const LogSink> sink = std::make_shared<const LogSink>(DefaultSink);
};

SinkHolder& Holder() {
    static SinkHolder* holder = new SinkHolder;  // never destroyed: exceptions may log at exit
    return *holder;
}

std::shared_ptr<const LogSink> CurrentSink() {
    SinkHolder& h = Holder();
    std::lock_guard<std::mutex> lock(h.mutex);
    return h.sink;
}

}  // namespace

LogSink SetSink(LogSink sink) {
    auto next = std::make_shared<const LogSink>(std::move(sink));
    SinkHolder& h = Holder();
    std::lock_guard<std::mutex> lock(h.mutex);
    LogSink previous = *h.sink;
    h.sink = std::move(next);
    return previous;
}

CLogger::CLogger(const wchar_t* channel) : m_channel(channel ? channel : L"") {}

CLogger::~CLogger() = default;

void CLogger::Error(const char* file, int line, const char* function, const wchar_t* format,
                    ...) const {
    try {
        std::shared_ptr<const LogSink> sink = CurrentSink();
        if (!sink || !*sink) return;
        SLogEntry entry;
        entry.channel = m_channel;
        entry.file = file ? file : "";
        entry.line = line;
        entry.function = function ? function : "";
        if (format) {
            wchar_t buffer[1024];
            va_list args;
            va_start(args, format);
            const int n = std::vswprintf(buffer, sizeof buffer / sizeof buffer[0], format, args);
            va_end(args);
            entry.message = n >= 0 ? std::wstring(buffer, static_cast<size_t>(n)) : format;
        }
        (*sink)(entry);
    } catch (...) {
        // A logger that fails must not change what the caller throws.
    }
}

}  // namespace Logging
