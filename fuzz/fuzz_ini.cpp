// Fuzz target: reading Tavrel.ini, as the front ends read it for the worker's settings
// (sections IMAP and TLS) and write it back with their own values (window layout, message
// box flags). The input is the file. Checks: every value reads without a failure, the
// settings stay in range, and the file as written back is read back unchanged (written
// again after a read, it has the very same bytes).
#include "EngineConfig.h"
#include "FuzzCheck.h"
#include "FuzzTempDir.h"
#include "IniFile.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Reads the file, uses it as the program does and writes it back with one value set.
void ReadAndWriteBack(const std::string& file) {
    TIniFile ini(file);
    const TEngineConfig config = LoadEngineConfig(ini);
    fuzzcheck::Expect(config.ImapPort > 0, "IMAP port 0 taken from the file");
    ReadsOverImap(config, "user@gmail.com");
    for (const std::string& section : ini.Sections()) {
        ini.ReadInteger(section, "Port", 0);
        ini.ReadBool(section, "VerifyPeer", true);
        ini.ValueExists(section, "Host");
    }
    ini.WriteInteger("General", "Left", 12);
    fuzzcheck::Expect(ini.UpdateFile(), "Tavrel.ini cannot be written back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string file = fuzztemp::WriteFile("Tavrel.ini", data, size);
    ReadAndWriteBack(file);
    const std::string first = ReadAll(file);
    ReadAndWriteBack(file);
    fuzzcheck::ExpectSame(first, ReadAll(file), "Tavrel.ini written back, read and written again");
    TIniFile again(file);
    fuzzcheck::Expect(again.ReadInteger("general", "LEFT", 0) == 12, "a written value is lost");
    return 0;
}
