// Captures log entries for the lifetime of the object and restores the previous sink.
#pragma once

#include <mutex>
#include <vector>

#include <tavrin/logging.h>

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
