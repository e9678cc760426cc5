#include "IdMessage.h"

#include <fcntl.h>
#include <unistd.h>
#include <strings.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>

#include "Base64.h"
#include "Charset.h"
#include "MimeHeaderField.h"
#include "QuotedPrintable.h"

namespace {

std::mutex gBoundaryMutex;
std::string gBoundary;

std::string MakeBoundary() {
    static const char kChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::random_device rd;
    std::mt19937 gen(rd());
    std::uniform_int_distribution<int> ch(0, 61);
    std::string b(34, ' ');
    for (char& c : b) c = kChars[ch(gen)];
    // "=_" at a random place: neither base64 nor quoted-printable text can hold it, so
    // the boundary never turns up inside encoded data.
    std::uniform_int_distribution<int> at(0, 32);
    const int p = at(gen);
    b[static_cast<std::size_t>(p)] = '=';
    b[static_cast<std::size_t>(p) + 1] = '_';
    return b;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// A header value must not carry a line break of its own.
std::string OneLine(const std::string& v) {
    std::string r = v;
    for (char& c : r)
        if (c == '\r' || c == '\n') c = ' ';
    return r;
}

void Line(IMessageSink& sink, const std::string& s) {
    sink.Write(s.data(), s.size());
    sink.Write("\r\n", 2);
}

void HeaderLine(IMessageSink& sink, const std::string& name, const std::string& value) {
    if (value.empty()) return;
    Line(sink, FoldHeaderLine(name + ": " + value));
}

bool IsKnownTransfer(const std::string& cte) {
    for (const char* k : {"7bit", "8bit", "binary", "base64", "quoted-printable", "binhex40"})
        if (EqualsNoCase(cte, k)) return true;
    return false;
}

// The name written into name= and filename=: the text after the last "\", ":" or "/".
std::string LastComponent(const std::string& path) {
    const std::size_t p = path.find_last_of("\\:/");
    std::string r = p == std::string::npos ? path : path.substr(p + 1);
    std::string out;
    for (char c : r) {
        if (c == '\r' || c == '\n') continue;
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

bool BodyHasText(const std::vector<std::string>& body) {
    for (const auto& l : body)
        for (char c : l)
            if (static_cast<unsigned char>(c) > 32) return true;
    return false;
}

// Remembers whether the bytes written so far end with CR LF.
class TLineEndTracker : public IMessageSink {
public:
    explicit TLineEndTracker(IMessageSink& next) : next_(next) {}
    void Write(const char* data, std::size_t len) override {
        if (len == 0) return;
        next_.Write(data, len);
        if (len >= 2) {
            last2_[0] = data[len - 2];
            last2_[1] = data[len - 1];
        } else {
            last2_[0] = last2_[1];
            last2_[1] = data[0];
        }
        any_ = true;
    }
    using IMessageSink::Write;
    bool EndsWithLineEnd() const { return !any_ || (last2_[0] == '\r' && last2_[1] == '\n'); }

private:
    IMessageSink& next_;
    char last2_[2] = {0, 0};
    bool any_ = false;
};

class TBase64EncoderSink : public IMessageSink {
public:
    explicit TBase64EncoderSink(IMessageSink& out) : enc_(out) {}
    void Write(const char* data, std::size_t len) override { enc_.Feed(data, len); }
    using IMessageSink::Write;
    void Finish() { enc_.Finish(); }

private:
    TBase64LineEncoder enc_;
};

class TQPEncoderSink : public IMessageSink {
public:
    explicit TQPEncoderSink(IMessageSink& out) : enc_(out) {}
    void Write(const char* data, std::size_t len) override { enc_.Feed(data, len); }
    using IMessageSink::Write;
    void Finish() { enc_.Finish(); }

private:
    TQuotedPrintableLineEncoder enc_;
};

const char* PriorityText(TIdMessagePriority p) {
    switch (p) {
    case mpHighest: return "1 (Highest)";
    case mpHigh: return "2 (High)";
    case mpLow: return "4 (Low)";
    case mpLowest: return "5 (Lowest)";
    default: return "";
    }
}

}  // namespace

TIdMessage::TIdMessage() = default;
TIdMessage::~TIdMessage() = default;

const std::string& TIdMessage::RunBoundary() {
    std::lock_guard<std::mutex> lock(gBoundaryMutex);
    if (gBoundary.empty()) gBoundary = MakeBoundary();
    return gBoundary;
}

void TIdMessage::SetRunBoundary(const std::string& boundary) {
    std::lock_guard<std::mutex> lock(gBoundaryMutex);
    gBoundary = boundary;
}

void TIdMessage::ClearHeader() {
    Subject.clear();
    From.Clear();
    Recipients.Clear();
    CCList.Clear();
    BccList.Clear();
    ReplyTo.Clear();
    Sender.clear();
    Organization.clear();
    References.clear();
    Newsgroups.clear();
    DispositionNotificationTo.clear();
    ContentType.clear();
    CharSet.clear();
    ContentTransferEncoding.clear();
    ContentDisposition.clear();
    Boundary.clear();
    MsgId.clear();
    Encoding = meDefault;
    Priority = mpNormal;
    ExtraHeaders.Clear();
    Headers.Clear();
    UseNowForDate = true;
    Date = 0;
    UID.clear();
    Flags.clear();
}

void TIdMessage::ClearBody() {
    Body.clear();
    Parts.clear();  // temporary attachment files are deleted with their parts
}

void TIdMessage::Clear() {
    ClearHeader();
    ClearBody();
}

TIdText& TIdMessage::AddText(std::vector<std::string> lines, const std::string& contentType) {
    auto t = std::make_unique<TIdText>();
    t->Body = std::move(lines);
    t->ContentType = contentType;
    TIdText& ref = *t;
    Parts.push_back(std::move(t));
    return ref;
}

TIdAttachmentMemory& TIdMessage::AddAttachmentMemory(std::string bytes) {
    auto a = std::make_unique<TIdAttachmentMemory>(std::move(bytes));
    TIdAttachmentMemory& ref = *a;
    Parts.push_back(std::move(a));
    return ref;
}

TIdAttachmentFile& TIdMessage::AddAttachmentFile(const std::string& path) {
    auto a = std::make_unique<TIdAttachmentFile>(path);
    TIdAttachmentFile& ref = *a;
    Parts.push_back(std::move(a));
    return ref;
}

TIdAttachmentFile& TIdMessage::AddAttachmentFile(const std::string& path, std::uint64_t offset,
                                                 std::uint64_t length) {
    auto a = std::make_unique<TIdAttachmentFile>(path, offset, length);
    TIdAttachmentFile& ref = *a;
    Parts.push_back(std::move(a));
    return ref;
}

TIdAttachment* TIdMessage::FirstAttachment() const {
    for (const auto& p : Parts)
        if (p->IsAttachment()) return static_cast<TIdAttachment*>(p.get());
    return nullptr;
}

void TIdMessage::GenerateHeader() {
    if (!Parts.empty() && (EqualsNoCase(ContentTransferEncoding, "base64") ||
                           EqualsNoCase(ContentTransferEncoding, "quoted-printable")))
        throw EIdMessageException(
            "Message parts cannot be used in a message which has a ContentTransferEncoding value.");
    if (Encoding == meDefault) Encoding = Parts.empty() ? mePlainText : meMIME;
    int texts = 0, attachments = 0;
    for (auto& p : Parts) {
        if (p->IsAttachment()) {
            ++attachments;
            if (Encoding == meMIME && !IsKnownTransfer(p->ContentTransfer)) p->ContentTransfer = "base64";
        } else {
            ++texts;
        }
    }
    if (Encoding == meMIME && ContentType.empty()) {
        if (attachments > 0) ContentType = "multipart/mixed";
        else if (texts >= 2) ContentType = "multipart/alternative";
        else ContentType = "text/plain";
    }
}

void TIdMessage::WriteHeader(IMessageSink& sink) {
    GenerateHeader();
    HeaderLine(sink, "From", OneLine(From.HeaderText(true)));
    HeaderLine(sink, "Subject", EncodeHeaderValue(Subject));
    HeaderLine(sink, "To", OneLine(Recipients.HeaderText(false)));
    HeaderLine(sink, "Cc", OneLine(CCList.HeaderText(false)));
    HeaderLine(sink, "Newsgroups", OneLine(Newsgroups));
    std::string ct = OneLine(ContentType);
    if (!ct.empty() && !CharSet.empty()) ct += ";\r\n\tcharset=\"" + OneLine(CharSet) + "\"";
    if (Encoding == meMIME) {
        if (!ct.empty() && !Parts.empty()) ct += "; boundary=\"" + RunBoundary() + "\"";
        HeaderLine(sink, "Content-Type", ct);
        HeaderLine(sink, "MIME-Version", "1.0");
        HeaderLine(sink, "Content-Transfer-Encoding", OneLine(ContentTransferEncoding));
    } else {
        HeaderLine(sink, "Content-Transfer-Encoding", OneLine(ContentTransferEncoding));
        HeaderLine(sink, "Content-Type", ct);
    }
    HeaderLine(sink, "Sender", OneLine(Sender));
    HeaderLine(sink, "Reply-To", OneLine(ReplyTo.HeaderText(false)));
    HeaderLine(sink, "Organization", EncodeHeaderValue(Organization));
    HeaderLine(sink, "Disposition-Notification-To", OneLine(DispositionNotificationTo));
    HeaderLine(sink, "References", OneLine(References));
    HeaderLine(sink, "Date", FormatMailDate(UseNowForDate ? std::time(nullptr) : Date));
    HeaderLine(sink, "X-Priority", PriorityText(Priority));
    for (const auto& [name, value] : ExtraHeaders) HeaderLine(sink, OneLine(name), OneLine(value));
}

void TIdMessage::WriteTextPart(IMessageSink& sink, const TIdText& t) {
    std::string cte = t.ContentTransfer.empty() ? "7bit" : t.ContentTransfer;
    const bool b64 = EqualsNoCase(cte, "base64");
    const bool qp = EqualsNoCase(cte, "quoted-printable");
    if (!b64 && !qp) {
        bool high = false;
        for (const auto& l : t.Body)
            for (char c : l)
                if (static_cast<unsigned char>(c) > 127) high = true;
        if (high) cte = "8bit";
    }
    Line(sink, "--" + RunBoundary());
    std::string ct = "Content-Type: " + OneLine(t.ContentType.empty() ? "text/plain" : t.ContentType);
    if (!t.CharSet.empty()) ct += " ; charset=\"" + OneLine(t.CharSet) + "\"";
    Line(sink, ct);
    Line(sink, "Content-Transfer-Encoding: " + OneLine(cte));
    if (!t.ContentID.empty()) Line(sink, "Content-ID: " + OneLine(t.ContentID));
    for (const auto& [name, value] : t.ExtraHeaders) HeaderLine(sink, OneLine(name), OneLine(value));
    Line(sink, "");
    if (b64 || qp) {
        std::string text;
        for (const auto& l : t.Body) text += l + "\r\n";
        if (b64) {
            TBase64LineEncoder enc(sink);
            enc.Feed(text.data(), text.size());
            enc.Finish();
        } else {
            TQuotedPrintableLineEncoder enc(sink);
            enc.Feed(text.data(), text.size());
            enc.Finish();
        }
    } else {
        for (const auto& l : t.Body) Line(sink, l);
    }
    Line(sink, "");
}

void TIdMessage::WriteAttachment(IMessageSink& sink, const TIdAttachment& a) {
    const std::string cte = a.ContentTransfer.empty() ? "base64" : a.ContentTransfer;
    const bool b64 = EqualsNoCase(cte, "base64");
    const bool qp = EqualsNoCase(cte, "quoted-printable");
    std::string ct = a.ContentType;
    if (ct.empty()) ct = b64 ? "application/octet-stream" : "text/plain";
    const std::string name = LastComponent(a.FileName);
    Line(sink, "--" + RunBoundary());
    if (name.empty()) {
        Line(sink, "Content-Type: " + OneLine(ct));
    } else {
        Line(sink, "Content-Type: " + OneLine(ct) + ";");
        Line(sink, "        name=\"" + name + "\"");
    }
    Line(sink, "Content-Transfer-Encoding: " + OneLine(cte));
    const std::string disp = a.ContentDisposition.empty() ? "attachment" : OneLine(a.ContentDisposition);
    if (name.empty()) {
        Line(sink, "Content-Disposition: " + disp);
    } else {
        Line(sink, "Content-Disposition: " + disp + ";");
        Line(sink, "        filename=\"" + name + "\"");
    }
    if (!a.ContentID.empty()) Line(sink, "Content-ID: " + OneLine(a.ContentID));
    for (const auto& [hn, hv] : a.ExtraHeaders) HeaderLine(sink, OneLine(hn), OneLine(hv));
    Line(sink, "");
    if (b64) {
        TBase64EncoderSink enc(sink);
        a.WriteContent(enc);
        enc.Finish();
    } else if (qp) {
        TQPEncoderSink enc(sink);
        a.WriteContent(enc);
        enc.Finish();
    } else {
        TLineEndTracker tracker(sink);
        a.WriteContent(tracker);
        if (!tracker.EndsWithLineEnd()) sink.Write("\r\n", 2);
    }
    Line(sink, "");
}

void TIdMessage::WriteBody(IMessageSink& sink) {
    GenerateHeader();
    Line(sink, "");
    if (Encoding != meMIME || Parts.empty()) {
        for (const auto& l : Body) Line(sink, l);
        Line(sink, "");
        return;
    }
    bool hasText = false;
    for (const auto& p : Parts)
        if (!p->IsAttachment()) hasText = true;
    // Body text of a message without a text part goes out as the first part. It is written
    // from Body directly, so writing the same message twice gives the same text.
    const bool bodyAsPart = !hasText && BodyHasText(Body);
    if (!Body.empty()) Line(sink, "This is a multi-part message in MIME format");
    Line(sink, "");
    if (bodyAsPart) {
        TIdText t;
        t.ContentType = "text/plain";
        t.ContentTransfer = "7bit";
        t.Body = Body;
        WriteTextPart(sink, t);
    }
    for (const auto& p : Parts) {
        if (p->IsAttachment()) WriteAttachment(sink, static_cast<const TIdAttachment&>(*p));
        else WriteTextPart(sink, static_cast<const TIdText&>(*p));
    }
    Line(sink, "--" + RunBoundary() + "--");
    Line(sink, "");
}

void TIdMessage::SaveToSink(IMessageSink& sink) {
    WriteHeader(sink);
    WriteBody(sink);
}

std::string TIdMessage::SaveToString() {
    std::string out;
    TStringSink sink(out);
    SaveToSink(sink);
    return out;
}

void TIdMessage::LoadFromString(const std::string& text) {
    Clear();
    TMimeParser parser(*this);
    parser.FeedBytes(text.data(), text.size());
    parser.Finish();
}

void TIdMessage::LoadFromFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw EIdMessageException("Cannot open file \"" + path + "\". " + std::strerror(errno));
    Clear();
    try {
        TMimeParser parser(*this);
        std::vector<char> buf(64 * 1024);
        while (true) {
            const ssize_t n = ::read(fd, buf.data(), buf.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                throw EIdMessageException("Cannot read file \"" + path + "\". " + std::strerror(errno));
            }
            if (n == 0) break;
            parser.FeedBytes(buf.data(), static_cast<std::size_t>(n));
        }
        parser.Finish();
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}
