// TIdMessage: the mail message object and its MIME wire form.
//
// Composing and sending (SMTP client)
// -----------------------------------
//   The engine fills Subject, From, Recipients, Body and Parts (e.g. one attachment:
//   msg.AddAttachmentFile(path, offset, length) streams a region of a local file, or
//   msg.AddAttachmentMemory(bytes)), then the SMTP client, after "DATA" answered 354:
//
//     TFunctionSink wire([&](const char* p, size_t n) { Write(p, n); });  // socket writer
//     TDotStuffingSink data(wire);          // "." at a line start gets one more "."
//     msg.WriteHeader(data);                // header lines, each ending CR LF
//     BeginWork(wmWrite);  msg.WriteBody(data);  EndWork(wmWrite);
//     WriteLn(".");                         // the body always ends with CR LF
//
//   WriteHeader decides Encoding and ContentType first (GenerateHeader). WriteBody starts
//   with the empty line after the header and streams attachments through bounded buffers
//   (64 KiB pieces), so memory stays small for any file size. Writing does not change the
//   message, so the same message can be written again.
//   SaveToString() gives the whole text at once (tests, small messages).
//
// Receiving and parsing (POP3 / IMAP4 client)
// -------------------------------------------
//     msg.Clear();
//     TMimeParser parser(msg);
//     for each received line: parser.FeedLine(line);  // POP3: dot-unstuffed, without the
//                                                     // final "." line (UnstuffDotLine)
//     or for an IMAP4 literal: parser.FeedBytes(chunk, n) as chunks arrive;
//     parser.Finish();
//
//   Header fetch (TOP n 0, RFC822.HEADER): feed the header lines, then Finish(); the
//   header's end is the first empty line (parser.InHeader() turns false there, which is
//   also where the wmRead transfer of the header ends and that of the body starts).
//   After parsing: Subject (decoded UTF-8), From, Recipients, ContentType, Body,
//   Parts (TIdText and attachments; a parsed attachment is a TIdAttachmentFile in a
//   temporary file, deleted with the part; with AttachmentStorage == asMemory a
//   TIdAttachmentMemory). The engine takes FirstAttachment() (the first part with
//   IsAttachment()) and reads its bytes with WriteContent(sink) / ReadAll().
//   Damaged or hostile input gives a clean, bounded result (see MimeParser.h).
//   DecodeHeaderValue(raw) decodes a raw header value exactly as Subject is decoded.
//
// Errors are EIdMessageException (MimeError.h). One message object is used by one thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <functional>
#include <string>
#include <vector>

#include "MimeAddress.h"
#include "MimeEncodedWord.h"
#include "MimeError.h"
#include "MimeHeaderList.h"
#include "MimeParser.h"
#include "MimeParts.h"
#include "MimeSink.h"

enum TIdMessageEncoding { meDefault, meMIME, mePlainText };
enum TIdMessagePriority { mpHighest, mpHigh, mpNormal, mpLow, mpLowest };
// Where parsed attachments keep their bytes. asStream: none; the decoded bytes of the
// first attachment go to TIdMessage::OnAttachmentData while the mail is read, those of
// any later attachment nowhere.
enum TIdAttachmentStorage { asTempFile, asMemory, asStream };

class TIdMessage {
public:
    TIdMessage();
    ~TIdMessage();
    TIdMessage(const TIdMessage&) = delete;
    TIdMessage& operator=(const TIdMessage&) = delete;

    // --- header fields (decoded text, UTF-8) ---
    std::string Subject;
    TIdEMailAddressList From;        // first entry is the sender
    TIdEMailAddressList Recipients;  // To
    TIdEMailAddressList CCList;
    TIdEMailAddressList BccList;     // never written
    TIdEMailAddressList ReplyTo;
    std::string Sender;              // address
    std::string Organization;
    std::string References;
    std::string Newsgroups;
    std::string DispositionNotificationTo;
    std::string ContentType;              // top-level, without parameters
    std::string CharSet;                  // top-level charset parameter
    std::string ContentTransferEncoding;  // top-level
    std::string ContentDisposition;       // top-level, without parameters
    std::string Boundary;                 // parsed: the boundary parameter
    std::string MsgId;                    // parsed: Message-ID (none is generated)
    TIdMessageEncoding Encoding = meDefault;
    TIdMessagePriority Priority = mpNormal;
    TIdHeaderList ExtraHeaders;  // written after the standard fields
    TIdHeaderList Headers;       // parsed: every header field as received (unfolded, raw)
    bool UseNowForDate = true;   // the Date header takes the time of writing
    std::time_t Date = 0;        // used when UseNowForDate is false; parsed Date
    // IMAP4: the UID and flags named in the FETCH response.
    std::string UID;
    std::vector<std::string> Flags;

    // --- body ---
    std::vector<std::string> Body;  // lines without line ends
    std::vector<std::unique_ptr<TIdMessagePart>> Parts;

    // --- parsing settings (kept by Clear) ---
    std::string AttachmentTempDirectory;  // empty: $TMPDIR or /tmp
    TIdAttachmentStorage AttachmentStorage = asTempFile;
    std::uint64_t MaxMemoryAttachmentSize = 256u << 20;  // asMemory: larger raises
    std::function<void(const char*, std::size_t)> OnAttachmentData;  // asStream

    void SetDate(std::time_t t) { Date = t; UseNowForDate = false; }

    // Empties every header field and the body (parts and their temporary files);
    // Encoding back to meDefault, priority to normal.
    void Clear();
    void ClearHeader();
    void ClearBody();

    TIdText& AddText(std::vector<std::string> lines, const std::string& contentType = "text/plain");
    TIdAttachmentMemory& AddAttachmentMemory(std::string bytes);
    TIdAttachmentFile& AddAttachmentFile(const std::string& path);
    TIdAttachmentFile& AddAttachmentFile(const std::string& path, std::uint64_t offset,
                                         std::uint64_t length);
    // The first attachment part, nullptr when there is none.
    TIdAttachment* FirstAttachment() const;

    // --- composing ---
    // Decides Encoding (meMIME with parts, else mePlainText), gives attachments with an
    // unknown transfer encoding "base64" and sets an empty ContentType
    // ("text/plain", "multipart/alternative" or "multipart/mixed").
    void GenerateHeader();
    // The header lines (folded), each ending CR LF, without the empty line after them.
    void WriteHeader(IMessageSink& sink);
    // The empty line after the header and the body; ends with CR LF. In a multipart
    // message without a text part, Body goes out as the first part (text/plain, 7bit).
    // Writing does not change Body or Parts, so a message can be written more than once.
    void WriteBody(IMessageSink& sink);
    // Header and body.
    void SaveToSink(IMessageSink& sink);
    std::string SaveToString();

    // The MIME boundary of this program run: 34 letters and digits with "=_" at a random
    // place, made on first use.
    static const std::string& RunBoundary();
    // Replaces the run's boundary (tests compare composed text byte for byte).
    static void SetRunBoundary(const std::string& boundary);

    // --- parsing (whole text at hand) ---
    // Clear + parse the given text / file (streamed).
    void LoadFromString(const std::string& text);
    void LoadFromFile(const std::string& path);

private:
    void WriteAttachment(IMessageSink& sink, const TIdAttachment& a);
    void WriteTextPart(IMessageSink& sink, const TIdText& t);
};
