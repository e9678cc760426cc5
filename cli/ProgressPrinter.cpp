#include "ProgressPrinter.h"

#include <algorithm>
#include <cmath>
#include <vector>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
bool IsByteStatus(const std::string& status) {
    return status.rfind("Sending", 0) == 0 || status.rfind("Download", 0) == 0;
}

// Cuts UTF-8 text to at most `width` code points, never inside a character.
std::string CutToWidth(const std::string& text, size_t width) {
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (seen == width) return text.substr(0, i);
        ++seen;
    }
    return text;
}
} // namespace

std::string SanitizeForTerminal(const std::string& text, const std::string& newline) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (c == '\n') {
            out += newline;
        } else if (c == '\t') {
            out += ' ';
        } else if (c < 0x20 || c == 0x7F) {
            out += '?';
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            out += '?'; // a C1 control character in UTF-8
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string FormatBytes(int64_t bytes) {
    if (bytes < 0) bytes = 0;
    if (bytes < 1024) return std::to_string(bytes) + " B";
    const char* units[] = {"KB", "MB", "GB", "TB"};
    double v = static_cast<double>(bytes);
    int u = -1;
    do {
        v /= 1024;
        ++u;
    } while (v >= 1024 && u < 3);
    char buf[32];
    std::snprintf(buf, sizeof buf, v < 10 ? "%.1f %s" : "%.0f %s", v, units[u]);
    return buf;
}

std::string FormatDuration(double seconds) {
    if (!(seconds >= 0) || seconds > 359999) return "--:--";
    long s = std::lround(seconds);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

size_t DisplayWidth(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string ProgressLine(const std::string& status, const TTransferSample& s, size_t width) {
    if (width < 2) return {};
    const size_t room = width - 1;
    std::string text = SanitizeForTerminal(status);
    if (s.maximum <= 0) return CutToWidth(text, room);

    const int64_t pos = std::min(std::max<int64_t>(s.position, 0), s.maximum);
    const double frac = static_cast<double>(pos) / static_cast<double>(s.maximum);
    auto bar = [&](int barWidth) {
        int filled = static_cast<int>(frac * barWidth);
        char pct[8];
        std::snprintf(pct, sizeof pct, "%3d%%", static_cast<int>(frac * 100));
        return "[" + std::string(static_cast<size_t>(filled), '#') +
               std::string(static_cast<size_t>(barWidth - filled), '.') + "] " + pct;
    };
    std::string amount, rate;
    if (s.bytes) {
        amount = FormatBytes(pos) + " of " + FormatBytes(s.maximum);
        double moved = static_cast<double>(pos - s.startPosition);
        if (s.elapsedSeconds >= 0.2 && moved > 0) {
            double perSecond = moved / s.elapsedSeconds;
            rate = FormatBytes(static_cast<int64_t>(perSecond)) + "/s  " +
                   FormatDuration(static_cast<double>(s.maximum - pos) / perSecond) + " left";
        }
    } else {
        amount = std::to_string(pos) + " of " + std::to_string(s.maximum);
    }
    // The widest form that leaves the status text whole; the narrowest one otherwise.
    const std::vector<std::string> forms = {
        bar(20) + "  " + amount + (rate.empty() ? "" : "  " + rate),
        bar(10) + "  " + amount + (rate.empty() ? "" : "  " + rate),
        bar(10) + (rate.empty() ? "  " + amount : "  " + rate),
        bar(10),
    };
    const std::string gap = text.empty() ? "" : "  ";
    for (const auto& detail : forms)
        if (DisplayWidth(text) + gap.size() + DisplayWidth(detail) <= room) return text + gap + detail;
    const std::string& detail = forms.back();
    if (DisplayWidth(detail) + 2 >= room) return CutToWidth(detail, room);
    size_t textRoom = room - DisplayWidth(detail) - 2;
    text = textRoom > 3 ? CutToWidth(text, textRoom - 3) + "..." : CutToWidth(text, textRoom);
    return text + "  " + detail;
}

TProgressPrinter::TProgressPrinter(std::FILE* out, bool terminal)
    : out_(out), terminal_(terminal), start_(std::chrono::steady_clock::now()), lastDraw_() {}

size_t TProgressPrinter::Width() const {
    struct winsize ws {};
    if (::ioctl(::fileno(out_), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

void TProgressPrinter::Status(const std::string& text) {
    if (IsByteStatus(text)) bytes_ = true;
    if (!terminal_) {
        if (!text.empty() && text != lastPlain_) {
            std::fprintf(out_, "%s\n", SanitizeForTerminal(text).c_str());
            std::fflush(out_);
        }
        if (!text.empty()) lastPlain_ = text;
        return;
    }
    bool changed = text != status_;
    status_ = text;
    Draw(changed);
}

void TProgressPrinter::Progress(int32_t position, int32_t maximum) {
    if (maximum != maximum_ || position < position_) {
        start_ = std::chrono::steady_clock::now();
        startPosition_ = position;
    }
    bool newMax = maximum != maximum_;
    if (newMax) bytes_ = IsByteStatus(status_);
    position_ = position;
    maximum_ = maximum;
    if (terminal_) Draw(newMax);
}

void TProgressPrinter::Draw(bool force) {
    auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    if (status_.empty() && maximum_ <= 0) {
        ClearLive();
        return;
    }
    TTransferSample s;
    s.position = position_;
    s.maximum = maximum_;
    s.bytes = bytes_;
    s.elapsedSeconds = std::chrono::duration<double>(now - start_).count();
    s.startPosition = startPosition_;
    std::fprintf(out_, "\r%s\033[K", ProgressLine(status_, s, Width()).c_str());
    std::fflush(out_);
    liveShown_ = true;
}

void TProgressPrinter::ClearLive() {
    if (!liveShown_) return;
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
    liveShown_ = false;
}

void TProgressPrinter::Line(const std::string& text) {
    ClearLive();
    std::fprintf(out_, "%s\n", SanitizeForTerminal(text, "\n").c_str());
    std::fflush(out_);
    // The live line comes back with the next status or progress report, not at once: a
    // question printed through here may still be waiting for its answer.
}
