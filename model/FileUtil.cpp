#include "FileUtil.h"

#include "Wait.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

uint32_t FileSizeOf(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st {};
    uint32_t size = 0;
    if (::fstat(fd, &st) == 0) size = static_cast<uint32_t>(static_cast<uint64_t>(st.st_size));
    ::close(fd);
    return size;
}

uint32_t ChecksumUpdate(uint32_t h, const void* data, size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        h = h * 8 + p[i];
        if (h >= 0x20000000u) h ^= h >> 29;
    }
    return h;
}

uint32_t FileChecksum(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        WaitMs(1000);
        return 0;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        WaitMs(1000);
        return 0;
    }
    std::vector<unsigned char> buf(102400);
    uint32_t h = 0;
    for (;;) {
        ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n <= 0) break;
        h = ChecksumUpdate(h, buf.data(), static_cast<size_t>(n));
    }
    ::close(fd);
    return h;
}

uint32_t FileAttributesOf(unsigned mode, const std::string& fileName) {
    uint32_t a = 0;
    if (!(mode & S_IWUSR)) a |= 1;
    if (!fileName.empty() && fileName[0] == '.') a |= 2;
    if (S_ISDIR(mode)) a |= 16;
    if (S_ISREG(mode)) a |= 32;
    return a ? a : 128;
}
