#include "MimeParser.h"

#include <fcntl.h>
#include <unistd.h>
#include <strings.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "Base64.h"
#include "IdMessage.h"
#include "MimeEncodedWord.h"
#include "MimeHeaderField.h"
#include "MimeUuDecoder.h"
#include "ProtoText.h"
#include "QuotedPrintable.h"

namespace {

constexpr std::size_t kMaxPartHeaderBytes = 64 * 1024;
constexpr std::size_t kMaxBoundaryLength = 200;

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && strncasecmp(s.data(), prefix.data(), prefix.size()) == 0;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

using prototext::Trim;

// Header fields as (name, unfolded value), collected line by line within a byte budget.
class THeaderCollector {
public:
    explicit THeaderCollector(std::size_t budget) : budget_(budget) {}

    // One header line; false once the budget is used up (the line is dropped).
    bool Line(std::string_view line) {
        if (used_ + line.size() > budget_) {
            used_ = budget_;
            return false;
        }
        used_ += line.size() + 2;
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            if (!fields_.empty()) fields_.back().pieces.emplace_back(line);
            return true;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return true;  // not a field
        std::string name = Trim(line.substr(0, colon));
        if (name.empty() || name.find_first_of(" \t") != std::string::npos) return true;
        fields_.push_back({std::move(name), {std::string(line.substr(colon + 1))}});
        return true;
    }

    TIdHeaderList Result() const {
        TIdHeaderList list;
        for (const auto& f : fields_) list.Add(f.name, UnfoldHeaderValue(f.pieces));
        return list;
    }

private:
    struct TField {
        std::string name;
        std::vector<std::string> pieces;
    };
    std::vector<TField> fields_;
    std::size_t budget_;
    std::size_t used_ = 0;
};

// Receives the data lines of one part (or body) until its end.
class TConsumer {
public:
    virtual ~TConsumer() = default;
    virtual void Line(std::string_view line, bool complete) = 0;
    virtual void End() = 0;
};

class TDiscardConsumer : public TConsumer {
public:
    void Line(std::string_view, bool) override {}
    void End() override {}
};

// Shared budget for text kept in memory (Body and text parts).
struct TTextBudget {
    std::size_t left;
    bool truncated = false;
    bool Take(std::size_t n) {
        if (n > left) {
            truncated = true;
            return false;
        }
        left -= n;
        return true;
    }
};

// Text lines straight into a line list; the line end before the next boundary belongs to
// the boundary, so one trailing empty line is dropped at the end.
class TLinesConsumer : public TConsumer {
public:
    TLinesConsumer(std::vector<std::string>& lines, TTextBudget& budget) : lines_(lines), budget_(budget) {}
    void Line(std::string_view line, bool complete) override {
        if (budget_.Take(line.size() + 2)) {
            if (midLine_ && !lines_.empty()) lines_.back().append(line);
            else lines_.emplace_back(line);
        }
        midLine_ = !complete;
    }
    void End() override {
        if (!lines_.empty() && lines_.back().empty()) lines_.pop_back();
    }

private:
    std::vector<std::string>& lines_;
    TTextBudget& budget_;
    bool midLine_ = false;
};

// Decoded bytes split back into lines (text parts sent as base64 or quoted-printable).
class TLineSplitSink : public IMessageSink {
public:
    TLineSplitSink(std::vector<std::string>& lines, TTextBudget& budget) : lines_(lines), budget_(budget) {}
    void Write(const char* data, std::size_t len) override {
        for (std::size_t i = 0; i < len; ++i) {
            if (data[i] == '\n') {
                if (!cur_.empty() && cur_.back() == '\r') cur_.pop_back();
                Push();
            } else if (cur_.size() < TMimeParser::kMaxLineLength) {
                cur_.push_back(data[i]);
            } else {
                budget_.truncated = true;
            }
        }
    }
    using IMessageSink::Write;
    void Finish() {
        if (!cur_.empty()) Push();
    }

private:
    void Push() {
        if (budget_.Take(cur_.size() + 2)) lines_.push_back(cur_);
        cur_.clear();
    }
    std::vector<std::string>& lines_;
    TTextBudget& budget_;
    std::string cur_;
};

// Attachment bytes into a file, through a bounded buffer.
class TFileWriterSink : public IMessageSink {
public:
    explicit TFileWriterSink(const std::string& path) : path_(path) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd_ < 0) Fail("Cannot open file");
        buf_.reserve(kBuf);
    }
    ~TFileWriterSink() override {
        if (fd_ >= 0) ::close(fd_);
    }
    void Write(const char* data, std::size_t len) override {
        if (buf_.size() + len > kBuf) Flush();
        if (len >= kBuf) WriteOut(data, len);
        else buf_.append(data, len);
    }
    using IMessageSink::Write;
    void Close() {
        Flush();
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) Fail("Cannot write file");
    }

private:
    static constexpr std::size_t kBuf = 64 * 1024;
    void Flush() {
        if (!buf_.empty()) WriteOut(buf_.data(), buf_.size());
        buf_.clear();
    }
    void WriteOut(const char* p, std::size_t n) {
        while (n > 0) {
            const ssize_t w = ::write(fd_, p, n);
            if (w < 0) {
                if (errno == EINTR) continue;
                Fail("Cannot write file");
            }
            p += w;
            n -= static_cast<std::size_t>(w);
        }
    }
    [[noreturn]] void Fail(const char* what) {
        throw EIdMessageException(std::string(what) + " \"" + path_ + "\". " + std::strerror(errno));
    }
    std::string path_;
    int fd_ = -1;
    std::string buf_;
};

class TMemoryWriterSink : public IMessageSink {
public:
    TMemoryWriterSink(std::string& data, std::uint64_t limit) : data_(data), limit_(limit) {}
    void Write(const char* data, std::size_t len) override {
        if (data_.size() + len > limit_)
            throw EIdMessageException("Attachment is larger than the memory limit of " + std::to_string(limit_) +
                                      " bytes.");
        data_.append(data, len);
    }
    using IMessageSink::Write;

private:
    std::string& data_;
    std::uint64_t limit_;
};

enum class TTransfer { Identity, Base64, QuotedPrintable };

TTransfer TransferOf(const std::string& cte) {
    const std::string t = Trim(cte);
    if (EqualsNoCase(t, "base64")) return TTransfer::Base64;
    if (EqualsNoCase(t, "quoted-printable")) return TTransfer::QuotedPrintable;
    return TTransfer::Identity;
}

// Data lines decoded by their transfer encoding into a byte sink. Identity: lines joined
// with CR LF, the last line end belonging to the boundary.
class TDecodingConsumer : public TConsumer {
public:
    TDecodingConsumer(TTransfer t, IMessageSink& out, std::function<void()> onEnd)
        : t_(t), out_(out), b64_(out), qp_(out), onEnd_(std::move(onEnd)) {}
    void Line(std::string_view line, bool complete) override {
        switch (t_) {
        case TTransfer::Base64:
            b64_.Feed(line);
            break;
        case TTransfer::QuotedPrintable:
            qp_.FeedLine(line, complete);
            break;
        case TTransfer::Identity:
            if (pendingBreak_) out_.Write("\r\n", 2);
            if (!line.empty()) out_.Write(line.data(), line.size());
            pendingBreak_ = complete;
            break;
        }
    }
    void End() override {
        if (t_ == TTransfer::Base64) b64_.Finish();
        if (t_ == TTransfer::QuotedPrintable) qp_.Finish();
        if (onEnd_) onEnd_();
    }

private:
    TTransfer t_;
    IMessageSink& out_;
    TBase64Decoder b64_;
    TQuotedPrintableDecoder qp_;
    bool pendingBreak_ = false;
    std::function<void()> onEnd_;
};

struct TPartInfo {
    std::string contentType;  // without parameters, "text/plain" when absent
    std::string charset;
    std::string transfer;
    std::string disposition;
    std::string fileName;
    std::string boundary;
    std::string contentId;
};

TPartInfo ReadPartInfo(const TIdHeaderList& h) {
    TPartInfo p;
    const THeaderParams ct = ParseHeaderParams(h.Values("Content-Type"));
    p.contentType = ct.Value.empty() ? "text/plain" : ct.Value;
    p.charset = ct.Param("charset");
    p.boundary = ct.Param("boundary");
    p.transfer = Trim(h.Values("Content-Transfer-Encoding"));
    const THeaderParams cd = ParseHeaderParams(h.Values("Content-Disposition"));
    p.disposition = cd.Value;
    std::string name = cd.Param("filename");
    if (name.empty()) name = ct.Param("name");
    p.fileName = DecodeHeaderValue(name);
    p.contentId = Trim(h.Values("Content-ID"));
    return p;
}

}  // namespace

struct TMimeParser::Impl {
    enum class TState { Header, Plain, Uu, Single, Preamble, PartHeader, PartData, Epilogue, Done };

    TIdMessage& msg;
    TState state = TState::Header;
    THeaderCollector header{kMaxHeaderBytes};
    bool headerLineDropped = false;  // rest of an overlong header line
    bool truncated = false;
    TTextBudget text{kMaxTextBytes};
    bool midLine = false;  // the last piece fed was part of a longer line
    std::string lineBuf;   // FeedBytes: the line being assembled

    // multipart
    std::vector<std::string> boundaries;  // innermost last
    std::unique_ptr<THeaderCollector> partHeader;
    // the part being filled
    std::unique_ptr<TConsumer> consumer;
    std::unique_ptr<IMessageSink> partSink;
    std::unique_ptr<TUuDecoder> uu;
    bool uuStarted = false;
    TIdMessagePart* currentPart = nullptr;  // the part being filled, if it was kept

    explicit Impl(TIdMessage& m) : msg(m) {}

    // ---- header of the message ----
    void ApplyTopHeader() {
        msg.Headers = header.Result();
        const TIdHeaderList& h = msg.Headers;
        msg.Subject = DecodeHeaderValue(h.Values("Subject"));
        msg.From.ParseHeaderText(h.Values("From"));
        msg.Recipients.ParseHeaderText(h.Values("To"));
        msg.CCList.ParseHeaderText(h.Values("Cc"));
        msg.BccList.ParseHeaderText(h.Values("Bcc"));
        msg.ReplyTo.ParseHeaderText(h.Values("Reply-To"));
        {
            TIdEMailAddressList s;
            s.ParseHeaderText(h.Values("Sender"));
            msg.Sender = s.Empty() ? std::string() : s[0].Address;
        }
        msg.Organization = DecodeHeaderValue(h.Values("Organization"));
        msg.References = h.Values("References");
        msg.Newsgroups = h.Values("Newsgroups");
        msg.MsgId = h.Values("Message-ID");
        msg.DispositionNotificationTo = h.Values("Disposition-Notification-To");
        const TPartInfo info = ReadPartInfo(h);
        msg.ContentType = info.contentType;
        msg.CharSet = info.charset;
        msg.Boundary = info.boundary.size() <= kMaxBoundaryLength ? info.boundary : std::string();
        msg.ContentTransferEncoding = info.transfer;
        msg.ContentDisposition = info.disposition;
        if (h.Contains("Date")) {
            msg.Date = ParseMailDate(h.Values("Date"));
            msg.UseNowForDate = false;
        }
        std::string prio = h.Values("Priority");
        if (prio.empty()) prio = h.Values("X-Priority");
        msg.Priority = mpNormal;
        if (!prio.empty()) {
            const char c = Trim(prio)[0];
            if (c == '1' || StartsWithNoCase(Trim(prio), "urgent")) msg.Priority = mpHighest;
            else if (c == '2') msg.Priority = mpHigh;
            else if (c == '4') msg.Priority = mpLow;
            else if (c == '5' || StartsWithNoCase(Trim(prio), "non-urgent")) msg.Priority = mpLowest;
        }
        msg.Encoding = h.Contains("MIME-Version") ? meMIME : mePlainText;
    }

    void StartBody() {
        ApplyTopHeader();
        const TTransfer t = TransferOf(msg.ContentTransferEncoding);
        if (!msg.Boundary.empty() && t == TTransfer::Identity) {
            boundaries.push_back(msg.Boundary);
            state = TState::Preamble;
        } else if (msg.Encoding == meMIME || t != TTransfer::Identity) {
            TPartInfo info = ReadPartInfo(msg.Headers);
            state = TState::Single;
            const bool attachment = IsAttachment(info, /*allowNested=*/false);
            if (attachment) StartAttachment(info);
            else StartText(info, msg.Body);
        } else {
            state = TState::Plain;
        }
    }

    // ---- parts ----
    static bool IsAttachment(const TPartInfo& p, bool allowNested) {
        if (StartsWithNoCase(p.disposition, "attachment") || !p.fileName.empty()) return true;
        if (StartsWithNoCase(p.contentType, "text")) return false;
        if (allowNested && StartsWithNoCase(p.contentType, "multipart/") && !p.boundary.empty()) return false;
        return true;
    }

    bool RoomForPart() {
        if (msg.Parts.size() < kMaxParts) return true;
        truncated = true;
        consumer = std::make_unique<TDiscardConsumer>();
        return false;
    }

    void StartText(const TPartInfo& info, std::vector<std::string>& lines) {
        const TTransfer t = TransferOf(info.transfer);
        if (t == TTransfer::Identity) {
            consumer = std::make_unique<TLinesConsumer>(lines, text);
            return;
        }
        auto split = std::make_unique<TLineSplitSink>(lines, text);
        TLineSplitSink* s = split.get();
        partSink = std::move(split);
        consumer = std::make_unique<TDecodingConsumer>(t, *s, [s] { s->Finish(); });
    }

    void StartTextPart(const TPartInfo& info) {
        if (!RoomForPart()) return;
        auto part = std::make_unique<TIdText>();
        part->ContentType = info.contentType;
        part->CharSet = info.charset;
        part->ContentTransfer = info.transfer;
        part->ContentDisposition = info.disposition;
        part->ContentID = info.contentId;
        TIdText& ref = *part;
        currentPart = part.get();
        msg.Parts.push_back(std::move(part));
        StartText(info, ref.Body);
    }

    // A new attachment part with a byte sink for its decoded content.
    IMessageSink* NewAttachment(const TPartInfo& info, std::function<void()>& onEnd) {
        if (!RoomForPart()) return nullptr;
        std::unique_ptr<TIdAttachment> part;
        if (msg.AttachmentStorage == asStream) {
            // Only the first attachment goes on to the consumer; the others are dropped.
            const bool first = msg.FirstAttachment() == nullptr;
            partSink = std::make_unique<TFunctionSink>(
                first && msg.OnAttachmentData ? msg.OnAttachmentData
                                              : [](const char*, std::size_t) {});
            part = std::make_unique<TIdAttachmentMemory>();
            onEnd = nullptr;
        } else if (msg.AttachmentStorage == asMemory) {
            auto m = std::make_unique<TIdAttachmentMemory>();
            partSink = std::make_unique<TMemoryWriterSink>(m->Data, msg.MaxMemoryAttachmentSize);
            part = std::move(m);
            onEnd = nullptr;
        } else {
            auto f = TIdAttachmentFile::CreateTemporary(msg.AttachmentTempDirectory);
            const std::string path = f->StoredPathName();
            part = std::move(f);  // deletes the file again if opening it fails
            auto w = std::make_unique<TFileWriterSink>(path);
            TFileWriterSink* wp = w.get();
            partSink = std::move(w);
            onEnd = [wp] { wp->Close(); };
        }
        part->ContentType = info.contentType;
        part->CharSet = info.charset;
        part->ContentTransfer = info.transfer;
        part->ContentDisposition = info.disposition;
        part->ContentID = info.contentId;
        part->FileName = info.fileName;
        currentPart = part.get();
        msg.Parts.push_back(std::move(part));
        return partSink.get();
    }

    void StartAttachment(const TPartInfo& info) {
        std::function<void()> onEnd;
        IMessageSink* sink = NewAttachment(info, onEnd);
        if (!sink) return;
        consumer = std::make_unique<TDecodingConsumer>(TransferOf(info.transfer), *sink, std::move(onEnd));
    }

    void EndConsumer() {
        if (consumer) {
            std::unique_ptr<TConsumer> c = std::move(consumer);
            c->End();
        }
        partSink.reset();
        currentPart = nullptr;
    }

    void StartPart() {
        const TIdHeaderList h = partHeader->Result();
        partHeader.reset();
        TPartInfo info = ReadPartInfo(h);
        if (info.boundary.size() > kMaxBoundaryLength) info.boundary.clear();
        const bool nestOk = boundaries.size() < kMaxDepth;
        if (!nestOk && StartsWithNoCase(info.contentType, "multipart/")) truncated = true;
        if (IsAttachment(info, nestOk)) {
            StartAttachment(info);
            CopyExtraHeaders(h);
            state = TState::PartData;
        } else if (StartsWithNoCase(info.contentType, "text")) {
            StartTextPart(info);
            CopyExtraHeaders(h);
            state = TState::PartData;
        } else {
            // A nested container: its own preamble (dropped), parts and closing line.
            boundaries.push_back(info.boundary);
            state = TState::Preamble;
        }
    }

    void CopyExtraHeaders(const TIdHeaderList& h) {
        if (!currentPart) return;
        TIdMessagePart& p = *currentPart;
        for (const auto& [name, value] : h) {
            if (EqualsNoCase(name, "Content-Type") || EqualsNoCase(name, "Content-Transfer-Encoding") ||
                EqualsNoCase(name, "Content-Disposition") || EqualsNoCase(name, "Content-ID"))
                continue;
            p.ExtraHeaders.Add(name, value);
        }
    }

    // Index of the container whose boundary line this is, -1 if none; closing: "--b--".
    int MatchBoundary(std::string_view line, bool& closing) const {
        if (line.size() < 3 || line[0] != '-' || line[1] != '-') return -1;
        std::string_view rest = line.substr(2);
        while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
        for (int i = static_cast<int>(boundaries.size()) - 1; i >= 0; --i) {
            const std::string& b = boundaries[static_cast<std::size_t>(i)];
            if (rest.size() < b.size() || rest.compare(0, b.size(), b) != 0) continue;
            const std::string_view tail = rest.substr(b.size());
            if (tail.empty()) {
                closing = false;
                return i;
            }
            if (tail == "--") {
                closing = true;
                return i;
            }
        }
        return -1;
    }

    // ---- lines ----
    void Piece(std::string_view line, bool complete) {
        const bool lineStart = !midLine;
        midLine = !complete;
        switch (state) {
        case TState::Header:
            if (!lineStart) {
                if (!headerLineDropped) truncated = true;
                headerLineDropped = true;
                return;
            }
            if (line.empty() && complete) {
                StartBody();
                return;
            }
            if (!header.Line(line)) truncated = true;
            headerLineDropped = false;
            return;
        case TState::Plain:
            PlainLine(line, complete, lineStart);
            return;
        case TState::Uu:
            if (lineStart && complete && Trim(line) == "end") {
                EndConsumer();
                uu.reset();
                state = TState::Plain;
                return;
            }
            if (!lineStart) return;  // an overlong line cannot be uu data
            if (!uuStarted) {
                uuStarted = true;
                if (partSink) uu = std::make_unique<TUuDecoder>(*partSink, TUuDecoder::Detect(line));
            }
            if (partSink && uu) uu->FeedLine(line);
            return;
        case TState::Single:
            if (consumer) consumer->Line(line, complete);
            return;
        case TState::Done:
            return;
        default:
            break;
        }
        // multipart states
        if (lineStart && complete) {
            bool closing = false;
            const int idx = MatchBoundary(line, closing);
            if (idx >= 0) {
                // The line end before the first boundary belongs to it, not to the preamble.
                if (state == TState::Preamble && boundaries.size() == 1 && !msg.Body.empty() &&
                    msg.Body.back().empty())
                    msg.Body.pop_back();
                EndConsumer();
                partHeader.reset();
                boundaries.resize(static_cast<std::size_t>(idx) + 1);
                if (closing) {
                    boundaries.pop_back();
                    state = boundaries.empty() ? TState::Done : TState::Epilogue;
                } else {
                    partHeader = std::make_unique<THeaderCollector>(kMaxPartHeaderBytes);
                    state = TState::PartHeader;
                }
                return;
            }
        }
        switch (state) {
        case TState::Preamble:
            if (boundaries.size() == 1) {
                if (text.Take(line.size() + 2)) {
                    if (!lineStart && !msg.Body.empty()) msg.Body.back().append(line);
                    else msg.Body.emplace_back(line);
                }
            }
            return;
        case TState::PartHeader:
            if (!lineStart) return;
            if (line.empty() && complete) {
                StartPart();
                return;
            }
            if (!partHeader->Line(line)) truncated = true;
            return;
        case TState::PartData:
            if (consumer) consumer->Line(line, complete);
            return;
        default:
            return;  // epilogue
        }
    }

    void PlainLine(std::string_view line, bool complete, bool lineStart) {
        std::string name;
        if (lineStart && complete && TUuDecoder::IsBeginLine(line, name)) {
            TPartInfo info;
            info.contentType = "application/octet-stream";
            info.transfer = "uuencode";
            info.disposition = "attachment";
            info.fileName = name;
            std::function<void()> onEnd;
            IMessageSink* sink = NewAttachment(info, onEnd);
            struct TEndOnly : TConsumer {
                std::function<void()> f;
                void Line(std::string_view, bool) override {}
                void End() override {
                    if (f) f();
                }
            };
            auto c = std::make_unique<TEndOnly>();
            c->f = std::move(onEnd);
            consumer = std::move(c);
            if (!sink) partSink.reset();
            uuStarted = false;
            state = TState::Uu;
            return;
        }
        if (text.Take(line.size() + 2)) {
            if (!lineStart && !msg.Body.empty()) msg.Body.back().append(line);
            else msg.Body.emplace_back(line);
        }
    }

    void Finish() {
        if (!lineBuf.empty()) {
            std::string rest;
            rest.swap(lineBuf);
            if (!rest.empty() && rest.back() == '\r') rest.pop_back();
            Piece(rest, true);
        }
        if (state == TState::Header) {
            ApplyTopHeader();
            state = TState::Done;
            return;
        }
        EndConsumer();
        uu.reset();
        if (state == TState::Plain || state == TState::Uu) {
            // The line end after the last body line is the message's end, not an empty line.
            if (!msg.Body.empty() && msg.Body.back().empty()) msg.Body.pop_back();
        }
        state = TState::Done;
    }
};

TMimeParser::TMimeParser(TIdMessage& msg) : d_(std::make_unique<Impl>(msg)) {}
TMimeParser::~TMimeParser() = default;

void TMimeParser::FeedLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    d_->Piece(line, true);
}

void TMimeParser::FeedBytes(const char* data, std::size_t len) {
    std::string& buf = d_->lineBuf;
    while (len > 0) {
        const void* lf = std::memchr(data, '\n', len);
        const std::size_t n = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : len;
        const std::size_t room = kMaxLineLength - buf.size();
        if (n > room || (!lf && n == room)) {
            // Overlong line: hand on what fits as a piece of the line.
            buf.append(data, room);
            data += room;
            len -= room;
            std::string piece;
            piece.swap(buf);
            d_->Piece(piece, false);
            continue;
        }
        buf.append(data, n);
        if (!lf) return;
        data += n + 1;
        len -= n + 1;
        std::string line;
        line.swap(buf);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        d_->Piece(line, true);
    }
}

void TMimeParser::Finish() { d_->Finish(); }

bool TMimeParser::InHeader() const { return d_->state == Impl::TState::Header; }

bool TMimeParser::Truncated() const { return d_->truncated || d_->text.truncated; }
