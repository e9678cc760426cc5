// The subject cache kept in the program folder across runs: a new worker reads only the
// ids and the subjects it does not know, the table is always the one the server's
// subjects give, and a file that is damaged, foreign or a link is ignored and rebuilt.
#include "EngineFixture.h"
#include "InboxHelpers.h"
#include "FileUtil.h"
#include "IdIMAP4.h"
#include "IdMessage.h"
#include "IdPOP3.h"
#include "MailCompose.h"
#include "MaildirWrite.h"
#include "StoredMail.h"
#include "SubjectCaches.h"
#include "TcpGate.h"

#include <algorithm>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
using namespace inbox;

// A stored file of one part, as an upload sends it.
std::string StoredFile(const std::string& path, const std::string& content, std::string* subject) {
    const uint32_t hash = ChecksumUpdate(0, content.data(), content.size());
    *subject = PartSubject(path, 1, 1, static_cast<uint32_t>(content.size()), hash, 32, "46000",
                           "46000");
    TIdMessage mail;
    AddressToSelf(mail, "user1@tavrel.test");
    mail.Subject = *subject;
    SetFilePart(mail, mail.AddAttachmentMemory(content), static_cast<uint32_t>(content.size()), path);
    return mail.SaveToString();
}

// Headers the servers sent: each one read holds the mail's Subject line.
int HeadersIn(const std::string& fromServers) {
    int n = 0;
    for (size_t p = fromServers.find("\nSubject: "); p != std::string::npos;
         p = fromServers.find("\nSubject: ", p + 1))
        ++n;
    return n;
}

void WriteFile(const fs::path& p, const std::string& data) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << data;
}

// The layout SubjectCaches.cpp writes, for damage that a hash check alone would not catch:
// the magic text (21 bytes), version, number of caches, then per cache its key, validity
// and number of entries; at the end a 64-bit FNV-1a hash of everything before it.
constexpr size_t kMagicBytes = 21;
std::string Rehashed(std::string body) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : body) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    for (int i = 0; i < 8; ++i) body += static_cast<char>((h >> (8 * i)) & 0xff);
    return body;
}
std::string Body(const std::string& file) { return file.substr(0, file.size() - 8); }
void Put32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xff);
}
size_t FirstEntryCountAt(const std::string& file) {
    const size_t keyAt = kMagicBytes + 8;
    uint32_t keyLength = 0;
    for (int i = 0; i < 4; ++i)
        keyLength |= uint32_t(static_cast<unsigned char>(file[keyAt + static_cast<size_t>(i)])) << (8 * i);
    return keyAt + 4 + keyLength + 8;
}
} // namespace

// Restarts the worker on the same program folder, each time as a new run would: a new
// collection, the mailbox added again, one refresh through a recording relay.
class SubjectCacheTest : public EngineTest {
public:
    void Use(bool imap) {
        imap_ = imap;
        Stop();
        gate_ = std::make_unique<TcpGate>(
            static_cast<uint16_t>(imap ? servers_->imapPort : servers_->pop3Port),
            [](int) { return true; });
        gate_->Record(true);
        config_.ImapPort = gate_->Port();
    }
    // A new run that refreshes the mailbox; the number of headers the servers sent.
    int Run() {
        Stop();
        gate_->TakeFromServers();
        box_ = &AddBox(imap_ ? "I" : "P", {.imap = imap_});
        box_->PopPort = gate_->Port();
        box_->QueueRefresh();
        EXPECT_TRUE(RunUntilIdle());
        EXPECT_TRUE(box_->Opened);
        return HeadersIn(gate_->TakeFromServers());
    }
    fs::path CacheFile() const { return home_ / "SubjectCache.bin"; }
    std::string Key() const {
        return std::string(imap_ ? "imap " : "pop3 ") + servers_->host + ":" +
               std::to_string(gate_->Port()) + " " +
               (imap_ ? servers_->acc1.address : servers_->acc1.user);
    }
    // The entries the file holds for the mailbox; -1: the file cannot be read as a cache.
    int Entries(int64_t* validity = nullptr) {
        TSubjectCaches::TMap caches;
        if (!TSubjectCaches::Parse(ReadFile(CacheFile().string()), caches)) return -1;
        auto it = caches.find(Key());
        if (it == caches.end()) return 0;
        if (validity) *validity = it->second.UidValidity;
        return static_cast<int>(it->second.Subjects.size());
    }
    // Rewrites the file with edit applied to the mailbox's subjects.
    void EditFile(const std::function<void(std::unordered_map<std::string, std::string>&)>& edit) {
        TSubjectCaches::TMap caches;
        ASSERT_TRUE(TSubjectCaches::Parse(ReadFile(CacheFile().string()), caches));
        edit(caches.at(Key()).Subjects);
        WriteFile(CacheFile(), TSubjectCaches::Format(caches));
    }
    Lines Shown() const { return Table(box_->Files); }
    Lines OnServer() const { return TableOf(OneAtATime(*servers_, imap_)); }

    bool imap_ = false;
    std::unique_ptr<TcpGate> gate_;
    TMailFolder* box_ = nullptr;
};

TEST(SubjectCacheFile, ReadsBackWhatItWroteAndNothingElse) {
    TSubjectCaches::TMap caches;
    caches["pop3 h:110 u"].Subjects = {{"id1", "\\a.txt<x>"}, {"id2", ""}};
    caches["pop3 h:110 u"].Bytes = 3 + 9 + 3;
    caches["imap h:143 u@x"].UidValidity = 1700000000;
    caches["imap h:143 u@x"].Subjects = {{"7", "s"}};
    caches["imap h:143 u@x"].Bytes = 2;
    const std::string file = TSubjectCaches::Format(caches);
    TSubjectCaches::TMap back;
    ASSERT_TRUE(TSubjectCaches::Parse(file, back));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back["pop3 h:110 u"].Subjects, caches["pop3 h:110 u"].Subjects);
    EXPECT_EQ(back["pop3 h:110 u"].Bytes, caches["pop3 h:110 u"].Bytes);
    EXPECT_EQ(back["imap h:143 u@x"].UidValidity, 1700000000);
    // Every shorter file, and every file with one byte changed, is refused as a whole.
    for (size_t n = 0; n < file.size(); ++n) {
        TSubjectCaches::TMap out;
        EXPECT_FALSE(TSubjectCaches::Parse(file.substr(0, n), out)) << n;
        std::string changed = file;
        changed[n] = static_cast<char>(changed[n] ^ 0x40);
        EXPECT_FALSE(TSubjectCaches::Parse(changed, out)) << n;
        EXPECT_TRUE(out.empty());
    }
}

TEST_F(SubjectCacheTest, ANewRunReadsOnlyTheIdsAndTheNewSubjects) {
    for (bool imap : {false, true}) {
        SCOPED_TRACE(imap ? "IMAP4" : "POP3");
        ClearMailbox(servers_->maildir1);
        fs::remove(CacheFile());
        Deliver(servers_->maildir1, FolderSubject("\\c\\", "45000.5"));
        for (uint32_t i = 0; i < 20; ++i)
            Deliver(servers_->maildir1, File("\\c\\f" + std::to_string(i) + ".txt", i + 1));
        Deliver(servers_->maildir1, "An ordinary mail");
        Use(imap);

        EXPECT_EQ(Run(), 22);
        EXPECT_EQ(Shown(), OnServer());
        Stop();
        struct stat st {};
        ASSERT_EQ(::stat(CacheFile().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(Entries(), 22);
        EXPECT_EQ(ReadFile(CacheFile().string()).find(servers_->acc1.pass), std::string::npos);

        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(Shown(), OnServer());

        // Between runs another client deletes mails and new ones arrive.
        DeleteByOtherClient(*servers_, {"\\c\\f3.txt<", "\\c\\f11.txt<"});
        Deliver(servers_->maildir1, File("\\c\\new.txt", 7));
        Deliver(servers_->maildir1, File("\\c\\f5.txt", 55));
        Deliver(servers_->maildir1, "Another ordinary mail");
        EXPECT_EQ(Run(), 3);
        EXPECT_EQ(Shown(), OnServer());
        EXPECT_EQ(box_->Files.IndexOf("\\c\\f3.txt"), -1);
        ASSERT_GE(box_->Files.IndexOf("\\c\\new.txt"), 0);
        ASSERT_GE(box_->Files.IndexOf("\\c\\f5.txt"), 0);
        EXPECT_EQ(box_->Files.Items(box_->Files.IndexOf("\\c\\f5.txt")).Size, 55u);
        Stop();
        EXPECT_EQ(Entries(), 23); // the deleted mails' entries are gone

        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(Shown(), OnServer());
        folders_->DeleteFolder(folders_->IndexOf(box_));
        Stop();
    }
}

TEST_F(SubjectCacheTest, ANewUidValidityBetweenRunsDropsTheCachedSubjects) {
    for (bool imap : {false, true}) {
        SCOPED_TRACE(imap ? "IMAP4" : "POP3");
        ClearMailbox(servers_->maildir1);
        fs::remove(CacheFile());
        for (const char* name : {"a1", "a2", "a3"})
            Deliver(servers_->maildir1, File(std::string("\\v\\") + name + ".txt"));
        Use(imap);
        EXPECT_EQ(Run(), 3);
        Stop();
        int64_t before = 0, after = 0;
        ASSERT_EQ(Entries(&before), 3);

        // The mailbox starts afresh (no index, no uid list): the same UIDs under a new
        // validity name other mails.
        ClearMailbox(servers_->maildir1);
        for (const char* name : {"b1", "b2", "b3"})
            Deliver(servers_->maildir1, File(std::string("\\v\\") + name + ".txt"));
        EXPECT_EQ(Run(), 3);
        EXPECT_EQ(Shown(), OnServer());
        EXPECT_EQ(box_->Files.IndexOf("\\v\\a1.txt"), -1);
        EXPECT_GE(box_->Files.IndexOf("\\v\\b1.txt"), 0);
        Stop();
        ASSERT_EQ(Entries(&after), 3);
        if (imap) {
            EXPECT_NE(before, after);
        }
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(Shown(), OnServer());
        Stop();
    }
}

TEST_F(SubjectCacheTest, ADamagedForeignOrLinkedFileIsIgnoredAndRebuilt) {
    ClearMailbox(servers_->maildir1);
    for (int i = 0; i < 6; ++i) Deliver(servers_->maildir1, File("\\d\\f" + std::to_string(i)));
    for (bool imap : {false, true}) {
        SCOPED_TRACE(imap ? "IMAP4" : "POP3");
        fs::remove(CacheFile());
        Use(imap);
        ASSERT_EQ(Run(), 6);
        Stop();
        const std::string good = ReadFile(CacheFile().string());
        ASSERT_EQ(Entries(), 6);
        const fs::path elsewhere = home_ / "elsewhere.bin";
        struct TVariant {
            const char* name;
            std::function<void()> make;
        };
        auto damaged = [&](std::function<std::string()> f) { return [&, f] { WriteFile(CacheFile(), f()); }; };
        const std::vector<TVariant> variants = {
            {"empty", damaged([] { return std::string(); })},
            {"truncated to half", damaged([&] { return good.substr(0, good.size() / 2); })},
            {"last byte missing", damaged([&] { return good.substr(0, good.size() - 1); })},
            {"a byte changed", damaged([&] {
                 std::string s = good;
                 s[s.size() / 2] = static_cast<char>(s[s.size() / 2] ^ 1);
                 return s;
             })},
            {"garbage", damaged([] { return Random(5000, 7); })},
            {"another program's file", damaged([] { return Rehashed("#!/bin/sh\necho hello\n" + std::string(40, ' ')); })},
            {"wrong magic", damaged([&] {
                 std::string b = Body(good);
                 b[0] = 't';
                 return Rehashed(b);
             })},
            {"another version", damaged([&] {
                 std::string b = Body(good);
                 Put32(b, kMagicBytes, 2);
                 return Rehashed(b);
             })},
            {"absurd number of caches", damaged([&] {
                 std::string b = Body(good);
                 Put32(b, kMagicBytes + 4, 0xffffffffu);
                 return Rehashed(b);
             })},
            {"absurd number of entries", damaged([&] {
                 std::string b = Body(good);
                 Put32(b, FirstEntryCountAt(good), 0x7fffffffu);
                 return Rehashed(b);
             })},
            {"more entries than written", damaged([&] {
                 std::string b = Body(good);
                 Put32(b, FirstEntryCountAt(good), 7);
                 return Rehashed(b);
             })},
            {"absurd id length", damaged([&] {
                 std::string b = Body(good);
                 Put32(b, FirstEntryCountAt(good) + 4, 0xfffffff0u);
                 return Rehashed(b);
             })},
            {"bytes after the caches", damaged([&] { return Rehashed(Body(good) + "x"); })},
            {"larger than any cache file", [&] {
                 WriteFile(CacheFile(), good);
                 fs::resize_file(CacheFile(), TSubjectCaches::kMaxFileBytes + 1);
             }},
            {"a link to a good file", [&] {
                 WriteFile(elsewhere, good);
                 fs::remove(CacheFile());
                 fs::create_symlink(elsewhere, CacheFile());
             }},
        };
        for (const auto& v : variants) {
            SCOPED_TRACE(v.name);
            v.make();
            EXPECT_EQ(Run(), 6);
            EXPECT_EQ(Shown(), OnServer());
            Stop();
            EXPECT_FALSE(fs::is_symlink(CacheFile()));
            EXPECT_EQ(Entries(), 6);
            EXPECT_EQ(Run(), 0); // the rebuilt file serves the next run
            Stop();
        }
        EXPECT_EQ(ReadFile(elsewhere.string()), good); // a link is never written through
        fs::remove(elsewhere);
    }
}

TEST_F(SubjectCacheTest, AnIdThatNamesAnotherMailLosesNothing) {
    // The cache names a's mail for b and b's for a (as a server that gave an id to
    // another mail would): a download and a delete must still take the right mails.
    for (bool imap : {false, true}) {
        SCOPED_TRACE(imap ? "IMAP4" : "POP3");
        ClearMailbox(servers_->maildir1);
        fs::remove(CacheFile());
        std::string a, b;
        DeliverText(servers_->maildir1, StoredFile("\\s\\a.txt", "the content of a", &a));
        DeliverText(servers_->maildir1, StoredFile("\\s\\b.txt", "and of b, longer", &b));
        Deliver(servers_->maildir1, FolderSubject("\\s\\", "46000"));
        Use(imap);
        ASSERT_EQ(Run(), 3);
        Stop();
        auto swap = [&](std::unordered_map<std::string, std::string>& subjects) {
            std::string* sa = nullptr;
            std::string* sb = nullptr;
            for (auto& [id, s] : subjects) {
                if (s == a) sa = &s;
                if (s == b) sb = &s;
            }
            ASSERT_TRUE(sa && sb);
            std::swap(*sa, *sb);
        };
        EditFile(swap);
        EXPECT_EQ(Run(), 0);
        waits_.clear();
        box_->DownloadItem("\\s\\", "a.txt", -1);
        ASSERT_TRUE(RunUntilIdle());
        EXPECT_EQ(ReadFile(box_->CachePathOf("\\s\\a.txt")), "the content of a");
        EXPECT_EQ(waits_.size(), 1u); // the attempt on the cached subjects failed the check
        Stop();

        EditFile(swap);
        EXPECT_EQ(Run(), 0);
        box_->DeleteItem("\\s\\", "a.txt", true);
        ASSERT_TRUE(RunUntilIdle());
        Lines left{FolderSubject("\\s\\", "46000"), b};
        std::sort(left.begin(), left.end());
        EXPECT_EQ(SubjectsOnDisk(servers_->maildir1), left);
        EXPECT_EQ(box_->Files.IndexOf("\\s\\a.txt"), -1);
        Stop();
    }
}
