#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

// Text from servers and stored names reaches the terminal: control characters (C0, DEL,
// C1) become "?", so nothing can move the cursor or change the terminal. A CR LF pair or
// a lone LF becomes `newline`.
std::string SanitizeForTerminal(const std::string& text, const std::string& newline = " ");

// "512 B", "1.5 KB", "3.0 MB", "1.2 GB" (binary multiples, as the program's size texts).
std::string FormatBytes(int64_t bytes);
// "0:05", "12:34", "1:02:03".
std::string FormatDuration(double seconds);
// Display width of UTF-8 text (code points; no wide-character tables).
size_t DisplayWidth(const std::string& text);

// One state of a transfer as the worker reports it.
struct TTransferSample {
    int64_t position = 0, maximum = 0;
    bool bytes = false;          // position and maximum count bytes (else mails)
    double elapsedSeconds = 0;   // since the first report of this transfer
    int64_t startPosition = 0;   // position at that first report
};

// The live line: status text, then for a transfer a bar with percentage, and for bytes
// the amount, the rate and the time left. At most `width` - 1 columns.
std::string ProgressLine(const std::string& status, const TTransferSample& sample, size_t width);

// Status texts and progress of the worker on standard error. On a terminal one live line
// is redrawn in place; otherwise every new status text is a plain line and the bar is left
// out. Every other message goes through Line, which clears the live line first.
class TProgressPrinter {
public:
    TProgressPrinter(std::FILE* out, bool terminal);

    void Status(const std::string& text);
    void Progress(int32_t position, int32_t maximum);
    void Line(const std::string& text);
    void ClearLive();
    bool Terminal() const { return terminal_; }
    std::FILE* Out() const { return out_; }

private:
    void Draw(bool force);
    size_t Width() const;

    std::FILE* out_;
    bool terminal_;
    std::string status_, lastPlain_;
    int64_t position_ = 0, maximum_ = 0, startPosition_ = 0;
    std::chrono::steady_clock::time_point start_, lastDraw_;
    bool liveShown_ = false;
    bool bytes_ = false; // the transfer under way counts bytes (kept while its maximum is)
};
