#include "MimeSink.h"

#include <cstring>

void TDotStuffingSink::Write(const char* data, std::size_t len) {
    std::size_t start = 0;  // first byte not yet handed on
    std::size_t i = 0;
    while (i < len) {
        if (atLineStart_) {
            atLineStart_ = false;
            if (data[i] == '.') {
                if (i > start) next_.Write(data + start, i - start);
                next_.Write(".", 1);
                start = i;  // the original dot follows
            }
        }
        const void* lf = std::memchr(data + i, '\n', len - i);
        if (!lf) break;
        i = static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1;
        atLineStart_ = true;
    }
    if (len > start) next_.Write(data + start, len - start);
}

std::string UnstuffDotLine(const std::string& line) {
    if (!line.empty() && line[0] == '.') return line.substr(1);
    return line;
}
