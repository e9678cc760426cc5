#include "MimeParts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "MimeError.h"
#include "MimeSink.h"

namespace {

constexpr std::size_t kChunk = 64 * 1024;

std::string FileError(const char* what, const std::string& path, int err) {
    return std::string(what) + " \"" + path + "\". " + std::strerror(err);
}

// Writes to a file descriptor, raising on failure.
class TFdSink : public IMessageSink {
public:
    TFdSink(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    void Write(const char* data, std::size_t len) override {
        while (len > 0) {
            const ssize_t n = ::write(fd_, data, len);
            if (n < 0) {
                if (errno == EINTR) continue;
                throw EIdMessageException(FileError("Cannot write file", path_, errno));
            }
            data += n;
            len -= static_cast<std::size_t>(n);
        }
    }
    using IMessageSink::Write;

private:
    int fd_;
    std::string path_;
};

}  // namespace

std::string TIdAttachment::ReadAll() const {
    std::string out;
    TStringSink sink(out);
    WriteContent(sink);
    return out;
}

void TIdAttachment::SaveToFile(const std::string& path) const {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw EIdMessageException(FileError("Cannot create file", path, errno));
    try {
        TFdSink sink(fd, path);
        WriteContent(sink);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0) throw EIdMessageException(FileError("Cannot write file", path, errno));
}

void TIdAttachmentMemory::WriteContent(IMessageSink& sink) const {
    for (std::size_t pos = 0; pos < Data.size(); pos += kChunk)
        sink.Write(Data.data() + pos, std::min(kChunk, Data.size() - pos));
}

TIdAttachmentFile::TIdAttachmentFile(std::string path) : path_(std::move(path)) {}

TIdAttachmentFile::TIdAttachmentFile(std::string path, std::uint64_t offset, std::uint64_t length)
    : path_(std::move(path)), offset_(offset), length_(length), wholeFile_(false) {}

TIdAttachmentFile::~TIdAttachmentFile() {
    if (temporary_ && !path_.empty()) ::unlink(path_.c_str());
}

std::unique_ptr<TIdAttachmentFile> TIdAttachmentFile::CreateTemporary(const std::string& dir) {
    std::string folder = dir;
    if (folder.empty()) {
        const char* t = std::getenv("TMPDIR");
        folder = (t && *t) ? t : "/tmp";
    }
    if (folder.back() != '/') folder.push_back('/');
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    auto tick = static_cast<std::uint32_t>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
    for (int attempt = 0; attempt < 100000; ++attempt, ++tick) {
        char name[32];
        std::snprintf(name, sizeof name, "tvm%08X.tmp", tick);
        const std::string path = folder + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            throw EIdMessageException(FileError("Cannot create file", path, errno));
        }
        ::close(fd);
        auto part = std::make_unique<TIdAttachmentFile>(path);
        part->temporary_ = true;
        return part;
    }
    throw EIdMessageException("Cannot create a temporary file in \"" + folder + "\".");
}

std::uint64_t TIdAttachmentFile::Size() const {
    if (!wholeFile_) return length_;
    struct stat st{};
    if (::stat(path_.c_str(), &st) != 0) return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

void TIdAttachmentFile::WriteContent(IMessageSink& sink) const {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) throw EIdMessageException("Attachment " + path_ + " is blocked.");
        throw EIdMessageException(FileError("Cannot open file", path_, errno));
    }
    std::vector<char> buf(kChunk);
    std::uint64_t pos = offset_;
    std::uint64_t left = length_;
    try {
        while (wholeFile_ || left > 0) {
            std::size_t want = kChunk;
            if (!wholeFile_ && left < want) want = static_cast<std::size_t>(left);
            const ssize_t n = ::pread(fd, buf.data(), want, static_cast<off_t>(pos));
            if (n < 0) {
                if (errno == EINTR) continue;
                throw EIdMessageException(FileError("Cannot read file", path_, errno));
            }
            if (n == 0) {
                if (wholeFile_) break;
                throw EIdMessageException("File \"" + path_ + "\" is shorter than expected.");
            }
            sink.Write(buf.data(), static_cast<std::size_t>(n));
            pos += static_cast<std::uint64_t>(n);
            if (!wholeFile_) left -= static_cast<std::uint64_t>(n);
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}
