#include "MountLog.h"

#include "ProgressPrinter.h"

#include <syslog.h>

TMountLog::TMountLog(TProgressPrinter& printer) : printer_(printer) {}

TMountLog::~TMountLog() {
    if (syslog_) ::closelog();
}

void TMountLog::Line(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string shown = SanitizeForTerminal(text);
    if (stderr_) printer_.Line("tavrel-mount: " + shown);
    if (syslog_) ::syslog(LOG_NOTICE, "%s", shown.c_str());
}

void TMountLog::Status(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (progress_ && stderr_) printer_.Status(SanitizeForTerminal(text));
}

void TMountLog::Progress(int32_t position, int32_t maximum) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (progress_ && stderr_) printer_.Progress(position, maximum);
}

void TMountLog::ClearLive() {
    std::lock_guard<std::mutex> lock(mutex_);
    printer_.ClearLive();
}

void TMountLog::SetStderr(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    stderr_ = on;
}

void TMountLog::SetSyslog(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (on && !syslog_) ::openlog("tavrel-mount", LOG_PID, LOG_USER);
    syslog_ = on;
}

void TMountLog::SetShowProgress(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!on) printer_.ClearLive();
    progress_ = on;
}
