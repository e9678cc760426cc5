#pragma once
#include <cstddef>
#include <functional>
#include <string>

// Where composed message text (or decoded attachment bytes) goes. Writes arrive in pieces
// of any size; the composer never holds a whole attachment in memory.
class IMessageSink {
public:
    virtual ~IMessageSink() = default;
    virtual void Write(const char* data, std::size_t len) = 0;
    void Write(const std::string& s) { Write(s.data(), s.size()); }
};

// Appends everything to a string (tests, small messages).
class TStringSink : public IMessageSink {
public:
    explicit TStringSink(std::string& out) : out_(out) {}
    void Write(const char* data, std::size_t len) override { out_.append(data, len); }
    using IMessageSink::Write;

private:
    std::string& out_;
};

// Hands every piece to a function (e.g. the socket writer of a protocol client).
class TFunctionSink : public IMessageSink {
public:
    explicit TFunctionSink(std::function<void(const char*, std::size_t)> fn) : fn_(std::move(fn)) {}
    void Write(const char* data, std::size_t len) override { fn_(data, len); }
    using IMessageSink::Write;

private:
    std::function<void(const char*, std::size_t)> fn_;
};

// SMTP transparency: every line that begins with "." gets one more "." in front before it
// goes on to the next sink. Lines are told by LF; the state carries across writes, so the
// text may arrive in any pieces. Construct it at the start of the DATA text.
class TDotStuffingSink : public IMessageSink {
public:
    explicit TDotStuffingSink(IMessageSink& next) : next_(next) {}
    void Write(const char* data, std::size_t len) override;
    using IMessageSink::Write;
    // True when the text written so far ends with a line end (or nothing was written):
    // the caller then sends ".\r\n"; otherwise it must send "\r\n.\r\n".
    bool AtLineStart() const { return atLineStart_; }

private:
    IMessageSink& next_;
    bool atLineStart_ = true;
};

// The reverse for one received line (POP3 TOP/RETR data): a line that begins with "." loses
// that first dot. The terminating line "." itself must be recognised by the caller first.
std::string UnstuffDotLine(const std::string& line);
