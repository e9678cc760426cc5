#pragma once
#include <cstdint>
#include <string>

// Low 32 bits of the file's size; 0 when it cannot be opened.
uint32_t FileSizeOf(const std::string& path);

// The content checksum carried in every stored-mail subject: for every byte b,
// h = h * 8 + b (mod 2^32), then h ^= h >> 29 whenever one of the top three bits is set.
// A file that cannot be opened gives 0 after a pause of 1000 ms (WaitMs).
uint32_t FileChecksum(const std::string& path);

// Windows-style attribute bits of a local file: read-only 1 (no write permission for the
// owner), hidden 2 (name starts with "."), directory 16, archive 32 for regular files;
// 128 (normal) when nothing else applies.
uint32_t FileAttributesOf(unsigned mode, const std::string& fileName);

// The same checksum carried on over more bytes, for data that is not in a file.
uint32_t ChecksumUpdate(uint32_t h, const void* data, size_t size);
