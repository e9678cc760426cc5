// Downloads queued back to back (a folder, a multi-selection) are fetched in one command
// stream of one session, and each operation is still verified and finished on its own.
#include "EngineFixture.h"
#include "FileUtil.h"
#include "StoredMail.h"
#include "TcpGate.h"

#include <map>

namespace fs = std::filesystem;

namespace {
// Files in the cache folder that are not the downloaded files themselves.
std::vector<std::string> Leftovers(const std::string& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it); it.increment(ec))
        if (it->is_regular_file() && it->path().filename().string().front() == '.')
            out.push_back(it->path().string());
    return out;
}

// Stores the folder "f" with these files and reads the table back from the server.
void StoreFolder(EngineTest* t, TMailFolder& box, const std::map<std::string, std::string>& files) {
    for (auto& [name, content] : files) t->MakeLocal("f/" + name, content);
    box.AddLocal("\\", (t->local_ / "f").string(), true);
    ASSERT_TRUE(t->RunUntilIdle());
    const uint32_t P = PartSizeFor(box.MaxAttachSize);
    int mails = 1; // the folder's own
    for (auto& [name, content] : files)
        mails += static_cast<int>(PartCountFor(static_cast<uint32_t>(content.size()), P));
    ASSERT_TRUE(WaitForMails(t->servers_->maildir1, mails, 20000));
    box.Files.Clear();
    box.QueueRefresh();
    ASSERT_TRUE(t->RunUntilIdle());
}

const std::map<std::string, std::string>& Files() {
    static const std::map<std::string, std::string> files = {
        {"a.txt", "alpha"},
        {"b.bin", EngineTest::Random(40000, 7)}, // several parts
        {"c.txt", "gamma"},
        {"d.bin", EngineTest::Random(3000, 8)},
        {"e.txt", "epsilon"},
    };
    return files;
}
// The worker drops the copies nobody took once it finds the queue empty, just after the
// last operation was finished.
void ExpectNoLeftovers(TPumpedDispatcher& window, const std::string& dir) {
    window.PumpUntil([&] { return Leftovers(dir).empty(); }, 5000);
    EXPECT_EQ(Leftovers(dir), std::vector<std::string>{});
}
} // namespace

TEST_F(EngineTest, DownloadsQueuedTogetherShareOneSessionAndFinishOneByOne) {
    for (bool imap : {false, true}) {
        SCOPED_TRACE(imap ? "IMAP4" : "POP3");
        ClearMailbox(servers_->maildir1);
        const auto port = static_cast<uint16_t>(imap ? servers_->imapPort : servers_->pop3Port);
        TcpGate gate(port, [](int) { return true; });
        config_.ImapPort = gate.Port();
        TMailFolder& box = AddBox(imap ? "I" : "P", {.imap = imap, .maxAttach = 16 * 1024});
        if (!imap) box.PopPort = gate.Port();
        StoreFolder(this, box, Files());
        ASSERT_TRUE(box.Opened);

        std::vector<std::string> finished;
        folders_->OnOperationFinished = [&](TMailFolder*, const TExOp& op, bool ok) {
            if (op.Kind == opDownload) finished.push_back(op.Path + op.Name + (ok ? "" : " failed"));
        };
        const int before = gate.Connections();
        box.DownloadItem("\\", "f\\", -1);
        std::vector<std::string> queued;
        for (int k = 0; k < box.Ops.Count(); ++k) queued.push_back(box.Ops.Get(k).Path + box.Ops.Get(k).Name);
        ASSERT_EQ(queued.size(), Files().size());
        ASSERT_TRUE(RunUntilIdle());
        folders_->OnOperationFinished = nullptr;

        EXPECT_EQ(finished, queued); // each reported on its own, in the order queued
        for (auto& [name, content] : Files())
            EXPECT_TRUE(ReadFile(box.CachePathOf("\\f\\" + name)) == content) << name;
        EXPECT_EQ(gate.Connections(), before + 1);
        EXPECT_TRUE(waits_.empty());
        ExpectNoLeftovers(dispatcher_, box.CacheDir());
        Stop();
    }
}

TEST_F(EngineTest, APartGoneFromTheStreamFailsItsFileOnly) {
    // Another client deletes a part mail of c.txt after the download listed the inbox: in
    // the shared stream that part comes back refused. c.txt fails with its reason after its
    // own attempts; the files before and after it arrive.
    for (bool imap : {false, true}) {
        SCOPED_TRACE(imap ? "IMAP4" : "POP3");
        ClearMailbox(servers_->maildir1);
        TMailFolder& box = AddBox(imap ? "I" : "P", {.imap = imap, .maxAttach = 16 * 1024});
        StoreFolder(this, box, Files());
        ASSERT_TRUE(box.Opened);
        std::string victim;
        for (const std::string& file : MailFiles(servers_->maildir1)) {
            TIdMessage m;
            m.LoadFromFile(file);
            if (ParseStoredSubject(m.Subject).path == "\\f\\c.txt") victim = file;
        }
        ASSERT_FALSE(victim.empty());
        bool deleted = false;
        folders_->OnStatus = [&](const std::string& s) {
            // After the listing, before the parts are asked for.
            if (s == "Download..." && !deleted) deleted = fs::remove(victim);
        };
        std::map<std::string, bool> result;
        std::string reason;
        folders_->OnOperationFinished = [&](TMailFolder*, const TExOp& op, bool ok) {
            if (op.Kind != opDownload) return;
            result[op.Path + op.Name] = ok;
            if (!ok) reason = folders_->OperationError;
        };
        box.DownloadItem("\\", "f\\", -1);
        ASSERT_TRUE(RunUntilIdle());
        folders_->OnOperationFinished = nullptr;
        folders_->OnStatus = nullptr;
        ASSERT_TRUE(deleted);

        for (auto& [name, content] : Files()) {
            const std::string path = "\\f\\" + name;
            EXPECT_EQ(result[path], name != "c.txt") << name;
            if (name != "c.txt") {
                EXPECT_TRUE(ReadFile(box.CachePathOf(path)) == content) << name;
            }
        }
        EXPECT_FALSE(fs::exists(box.CachePathOf("\\f\\c.txt")));
        EXPECT_NE(reason.find("do not make up the stored file"), std::string::npos) << reason;
        ExpectNoLeftovers(dispatcher_, box.CacheDir());
        Stop();
    }
}

TEST_F(EngineTest, ACopyFetchedAheadIsNotUsedForAFileChangedOrNoLongerAsked) {
    // When the first download is finished, the files behind it have been fetched with it.
    // Before their turn, the table entry of the next one changes and the download of the
    // one after that leaves the queue: the changed one is fetched again by its own
    // operation (and fails, since the server holds the old version), the other never
    // appears, and no copy stays behind in the cache.
    TMailFolder& box = AddBox("P", {.maxAttach = 16 * 1024});
    StoreFolder(this, box, Files());
    ASSERT_TRUE(box.Opened);
    std::string changed, dropped;
    std::map<std::string, bool> result;
    folders_->OnOperationFinished = [&](TMailFolder* m, const TExOp& op, bool ok) {
        if (op.Kind != opDownload) return;
        result[op.Path + op.Name] = ok;
        if (!changed.empty() || m->Ops.Count() < 3) return;
        changed = m->Ops.Get(0).Path + m->Ops.Get(0).Name;
        dropped = m->Ops.Get(1).Path + m->Ops.Get(1).Name;
        m->Files.Items(m->Files.IndexOf(changed)).Hash ^= 1;
        m->Ops.Delete(1);
    };
    box.DownloadItem("\\", "f\\", -1);
    ASSERT_TRUE(RunUntilIdle());
    folders_->OnOperationFinished = nullptr;
    ASSERT_FALSE(changed.empty());
    EXPECT_EQ(result.size(), Files().size() - 1);
    EXPECT_FALSE(result[changed]) << changed << ": a copy of the earlier entry was taken";
    EXPECT_EQ(result.count(dropped), 0u);
    EXPECT_FALSE(fs::exists(box.CachePathOf(dropped))) << dropped;
    for (auto& [path, ok] : result) EXPECT_TRUE(ok || path == changed) << path;
    ExpectNoLeftovers(dispatcher_, box.CacheDir());
}
