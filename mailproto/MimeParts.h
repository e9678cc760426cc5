#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MimeHeaderList.h"

class IMessageSink;

// One part of a multipart message: a text part (TIdText) or an attachment.
class TIdMessagePart {
public:
    virtual ~TIdMessagePart() = default;
    virtual bool IsAttachment() const = 0;

    std::string ContentType;         // "text/plain", "Stream", ... (without parameters)
    std::string ContentTransfer;     // transfer encoding: "7bit", "base64", ...
    std::string CharSet;             // charset parameter, empty when none
    std::string ContentDisposition;  // "attachment", "inline", ... (without parameters)
    std::string ContentID;
    TIdHeaderList ExtraHeaders;      // further header fields of the part
};

// A text part: its own body lines (without line ends).
class TIdText : public TIdMessagePart {
public:
    bool IsAttachment() const override { return false; }
    std::vector<std::string> Body;
};

// An attachment: file name and content bytes. Content is read through WriteContent,
// which streams it in bounded pieces.
class TIdAttachment : public TIdMessagePart {
public:
    bool IsAttachment() const override { return true; }

    // Composing: the mailbox path or any path; the wire carries the part after the last
    // "\" or ":" (or "/"). Parsing: the name= / filename= value, decoded.
    std::string FileName;

    virtual std::uint64_t Size() const = 0;
    // Writes the (decoded) content bytes to the sink, in pieces of at most 64 KiB.
    // Raises EIdMessageException when a backing file is missing or unreadable.
    virtual void WriteContent(IMessageSink& sink) const = 0;
    // The whole content in one string (for small attachments and tests).
    std::string ReadAll() const;
    // Writes the content to a new file (replaced when it exists).
    void SaveToFile(const std::string& path) const;
};

// An attachment held in memory.
class TIdAttachmentMemory : public TIdAttachment {
public:
    TIdAttachmentMemory() = default;
    explicit TIdAttachmentMemory(std::string data) : Data(std::move(data)) {}
    std::uint64_t Size() const override { return Data.size(); }
    void WriteContent(IMessageSink& sink) const override;
    std::string Data;
};

// An attachment whose bytes are a file, or a region of one, on disk. Composing a part
// mail this way streams the region straight from the user's file, so no part is held in
// memory. Parsed attachments are temporary files that are deleted with the part.
class TIdAttachmentFile : public TIdAttachment {
public:
    // The whole file (its size is taken when the content is read).
    explicit TIdAttachmentFile(std::string path);
    // length bytes from offset on; reading fewer (file shorter) raises an error.
    TIdAttachmentFile(std::string path, std::uint64_t offset, std::uint64_t length);
    ~TIdAttachmentFile() override;
    TIdAttachmentFile(const TIdAttachmentFile&) = delete;
    TIdAttachmentFile& operator=(const TIdAttachmentFile&) = delete;

    // Creates an empty temporary file in dir (empty: $TMPDIR or /tmp) named "tvm" + 8
    // upper-case hex digits of a millisecond counter + ".tmp", owned by the part.
    static std::unique_ptr<TIdAttachmentFile> CreateTemporary(const std::string& dir);

    std::uint64_t Size() const override;
    void WriteContent(IMessageSink& sink) const override;

    const std::string& StoredPathName() const { return path_; }
    bool IsTemporary() const { return temporary_; }
    // Keeps a temporary file on disk when the part is freed (the caller takes it over).
    void KeepFile() { temporary_ = false; }

private:
    std::string path_;
    std::uint64_t offset_ = 0;
    std::uint64_t length_ = 0;
    bool wholeFile_ = true;
    bool temporary_ = false;
};
