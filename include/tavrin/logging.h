/// \file
/// The logging layer that exceptions report through. Entries go to one process-wide sink.
#pragma once

#include <functional>
#include <string>

#include <tavrin/export.h>

namespace Logging {

/// One log entry as handed to the sink.
struct SLogEntry {
    std::wstring channel;  ///< name of the CLogger that wrote it, e.g. "Exception"
    std::string file;      ///< source file of the reporting place
    int line = 0;          ///< source line of the reporting place
    std::string function;  ///< function of the reporting place
    std::wstring message;  ///< the formatted message
};

/// Receives every log entry of the process; the entry is valid only during the call.
using LogSink = std::function<void(const SLogEntry&)>;

/// Replaces the sink of every CLogger in the process and returns the previous one.
/// An empty sink discards entries. The default sink writes one line per entry to
/// standard error. Safe to call from any thread; a sink may be called from any thread.
TAVRIN_API LogSink SetSink(LogSink sink);

/// A named logging channel.
class TAVRIN_API CLogger {
public:
    /// A channel named `channel` (copied; null: the empty name).
    explicit CLogger(const wchar_t* channel);
    ~CLogger();
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;

    /// Formats `format` (wide printf rules) with the arguments and hands one entry to the sink.
    /// Never throws: a failing sink or formatting is ignored.
    void Error(const char* file, int line, const char* function, const wchar_t* format, ...) const;

    /// The channel's name.
    const std::wstring& GetChannel() const { return m_channel; }

private:
    std::wstring m_channel;
};

}  // namespace Logging
