#include "TrialFiles.h"

#include "FileUtil.h"
#include "MailCompose.h"
#include "MailServers.h"
#include "MaildirWrite.h"
#include "StoredMail.h"

#include <fstream>
#include <random>
#include <unistd.h>

namespace {
std::string RandomBytes(std::mt19937& rng, size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

// A Maildir holds LF line ends.
std::string ToLf(const std::string& text) {
    std::string lf;
    lf.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
    return lf;
}
} // namespace

TTrialFiles::TTrialFiles(uint32_t seed) {
    std::mt19937 rng(seed);
    const size_t P = PartSizeFor(kMaxAttach);
    before_[kTarget] = RandomBytes(rng, 3 * P + 17); // 4 parts
    before_["\\d\\b.txt"] = RandomBytes(rng, 100);
    before_["\\d\\e.bin"] = "";
    before_["\\c.bin"] = RandomBytes(rng, P + 1);     // 2 parts, outside the folder
    newBytes_ = RandomBytes(rng, 2 * P + 9);          // 3 parts: fewer than the old version
}

uint32_t TTrialFiles::MailsFor(size_t size) {
    return size == 0 ? 1u : PartCountFor(static_cast<uint32_t>(size), PartSizeFor(kMaxAttach));
}

bool TTrialFiles::Deliver(const std::string& maildir, const std::string& address,
                          std::vector<std::string>& subjects) const {
    static int serial = 0;
    auto write = [&](TIdMessage& m) {
        const int n = ++serial;
        const std::string name = std::to_string(1700000000 + n) + ".M" + std::to_string(n) + "P" +
                                 std::to_string(::getpid()) + ".trial";
        subjects.push_back(m.Subject);
        return DeliverToMaildir(maildir, name, ToLf(m.SaveToString()));
    };
    TIdMessage folder;
    AddressToSelf(folder, address);
    folder.Subject = FolderSubject(kFolder, "45000.5");
    if (!write(folder)) return false;
    const uint32_t P = PartSizeFor(kMaxAttach);
    for (const auto& [path, bytes] : before_) {
        const uint32_t size = static_cast<uint32_t>(bytes.size());
        const uint32_t hash = ChecksumUpdate(0, bytes.data(), bytes.size());
        const uint32_t n = MailsFor(size);
        for (uint32_t i = 1; i <= n; ++i) {
            TIdMessage m;
            AddressToSelf(m, address);
            m.Subject = PartSubject(path, i, n, size, hash, 32, "45000.5", "45000.5");
            if (size > 0) {
                const uint32_t L = PartLength(size, P, i);
                SetFilePart(m, m.AddAttachmentMemory(bytes.substr(size_t{i - 1} * P, L)), L, path);
            }
            if (!write(m)) return false;
        }
    }
    return true;
}

int TTrialFiles::CountPartMails(const std::string& maildir) {
    int n = 0;
    for (const std::string& file : MailFiles(maildir)) {
        // The header is enough: it ends at the first empty line.
        std::ifstream in(file, std::ios::binary);
        std::string header, line;
        while (std::getline(in, line) && !line.empty() && line != "\r") header += line + "\n";
        TIdMessage m;
        m.LoadFromString(header + "\n");
        n += ParseStoredSubject(m.Subject).kind == TStoredSubject::FilePart;
    }
    return n;
}
