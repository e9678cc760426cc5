// Checksums of cached files: read once, again after a change, and not at all for a file
// the program reported having just written.
#include <gtest/gtest.h>

#include "ChecksumCache.h"
#include "FileUtil.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <utime.h>

namespace fs = std::filesystem;

namespace {
void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}
} // namespace

TEST(ChecksumCache, RememberedChecksumHoldsUntilTheFileChanges) {
    const fs::path dir = fs::temp_directory_path() / ("tavrel-sum-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "f.bin").string();
    WriteFile(path, "downloaded");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);

    TChecksumCache cache;
    cache.Remember(path, st, 0x1234u); // what the download computed while writing
    uint32_t size = 0, sum = 0;
    ASSERT_TRUE(cache.Lookup(path, size, sum));
    EXPECT_EQ(sum, 0x1234u); // taken from the hand-off, the file was not read
    EXPECT_EQ(size, 10u);

    // Changed afterwards (same size, even the old modification time): read again.
    WriteFile(path, "DOWNLOADED");
    struct utimbuf times {st.st_atime, st.st_mtime};
    ::utime(path.c_str(), &times);
    ASSERT_TRUE(cache.Lookup(path, size, sum));
    EXPECT_EQ(sum, FileChecksum(path));

    fs::remove(path);
    EXPECT_FALSE(cache.Lookup(path, size, sum));
    fs::remove_all(dir);
}
