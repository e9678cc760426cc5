#pragma once
#include <cstdint>
#include <mutex>
#include <string>

class TProgressPrinter;

// Where tavrel-mount tells what it does: standard error (through the progress printer, so
// a live progress line is cleared first) and, once it runs in the background, the system
// log. Safe to call from any thread. The worker's status and progress are shown only while
// `ShowProgress` is on (the first listing and the uploads finished at the end).
class TMountLog {
public:
    explicit TMountLog(TProgressPrinter& printer);
    ~TMountLog();

    void Line(const std::string& text);  // "tavrel-mount: " is put before it
    void Status(const std::string& text);
    void Progress(int32_t position, int32_t maximum);
    void ClearLive();

    void SetStderr(bool on);
    void SetSyslog(bool on);
    void SetShowProgress(bool on);

private:
    std::mutex mutex_;
    TProgressPrinter& printer_;
    bool stderr_ = true;
    bool syslog_ = false;
    bool progress_ = false;
};
