#include "ModelFixture.h"
#include "Stream.h"

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {
// A Data.bin written by hand, for the cases a save never produces.
std::string MakeDataBin(const std::string& version, int count, int goodRecords,
                        bool damageNext) {
    TStreamWriter w;
    w.WriteString("{DC9B31A2-A7CE-46A1-B472-B83BEA25F7B2}");
    w.WriteString(version);
    TOptions().SaveToStream(w);
    w.WriteString("filler");
    w.WriteInteger(count);
    for (int i = 0; i < goodRecords; ++i) {
        TMailFolder f(nullptr);
        f.Alias = "box" + std::to_string(i);
        f.SaveToStream(w);
    }
    if (damageNext) {
        w.WriteString("smtp");
        w.WriteString("a@b");
        w.WriteString("not a port");
    }
    return w.Data();
}
} // namespace

TEST_F(ModelTest, NewDataBinHasTheDocumentedBytes) {
    ASSERT_TRUE(folders_->LoadFromFile(DataBin()));
    std::string data = ReadFile(DataBin());
    const unsigned char head[] = {0x26, 0, 0, 0, 0x5D, 0x3F, 0x07, 0x7A, 0x7B, 0x71, 0x02, 0x70};
    ASSERT_GE(data.size(), 50u);
    EXPECT_EQ(data.substr(0, 12), std::string(reinterpret_cast<const char*>(head), 12));
    EXPECT_EQ(data.substr(42, 6), std::string("\x02\0\0\0\x33\x01", 6)); // version 10

    TStreamReader r(data);
    r.ReadString();
    EXPECT_EQ(r.ReadInteger(), 10);
    // Options block: 10, 0, "", 0, 1, 0.
    EXPECT_EQ(r.ReadInteger(), 10);
    EXPECT_EQ(r.ReadFlag(), 0);
    EXPECT_EQ(r.ReadString(), "");
    EXPECT_EQ(r.ReadFlag(), 0);
    EXPECT_EQ(r.ReadFlag(), 1);
    EXPECT_EQ(r.ReadFlag(), 0);
    std::string filler = r.ReadString();
    EXPECT_GE(filler.size(), 10u);
    EXPECT_LE(filler.size(), 34u);
    for (unsigned char c : filler) EXPECT_LE(c, 254);
    EXPECT_EQ(r.ReadInteger(), 0);
    EXPECT_TRUE(r.AtEnd());

    struct stat st {};
    ASSERT_EQ(::stat(DataBin().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ModelTest, EveryFieldRoundTrips) {
    folders_->LoadFromFile(DataBin());
    TMailFolder& b = AddBox("W\xc3\xb6rk");
    b.Address = "me@example.org";
    b.SmtpServer = "smtp.x";
    b.SmtpPort = 465;
    b.SmtpSsl = true;
    b.SmtpAuth = false;
    b.PopServer = "pop.x";
    b.PopPort = 995;
    b.PopSsl = true;
    b.Account = "acc";
    b.Password = "pa ss\x01";
    b.Capacity = 0xFFFFFFFFu;
    b.MaxAttachSize = 0;
    b.Created = 39814.5;
    AddBox("second");
    folders_->Options->Password = "secret";
    folders_->Options->MinimizeOnClose = true;
    folders_->Options->ShowTrayIcon = false;
    folders_->Save();

    auto again = NewCollection();
    ASSERT_TRUE(again->LoadFromFile(DataBin()));
    ASSERT_EQ(again->Count(), 2);
    TMailFolder& c = again->Items(0);
    EXPECT_EQ(c.Alias, "W\xc3\xb6rk");
    EXPECT_EQ(c.Address, "me@example.org");
    EXPECT_EQ(c.SmtpServer, "smtp.x");
    EXPECT_EQ(c.SmtpPort, 465);
    EXPECT_TRUE(c.SmtpSsl);
    EXPECT_FALSE(c.SmtpAuth);
    EXPECT_EQ(c.PopServer, "pop.x");
    EXPECT_EQ(c.PopPort, 995);
    EXPECT_TRUE(c.PopSsl);
    EXPECT_EQ(c.Account, "acc");
    EXPECT_EQ(c.Password, "pa ss\x01");
    EXPECT_EQ(c.Capacity, 0xFFFFFFFFu);
    EXPECT_EQ(c.MaxAttachSize, 0u);
    EXPECT_DOUBLE_EQ(c.Created, 39814.5);
    EXPECT_EQ(again->Items(1).Alias, "second");
    EXPECT_EQ(again->Options->Password, "secret");
    EXPECT_TRUE(again->Options->MinimizeOnClose);
    EXPECT_FALSE(again->Options->ShowTrayIcon);
    // Loading made the cache folders, private to the user.
    struct stat st {};
    ASSERT_EQ(::stat((home_ / "MailRoot" / "second").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(ModelTest, TwoSavesDifferOnlyInTheFiller) {
    folders_->LoadFromFile(DataBin());
    AddBox("a");
    folders_->Save();
    std::string first = ReadFile(DataBin());
    folders_->Save();
    std::string second = ReadFile(DataBin());
    auto strip = [](const std::string& d) {
        TStreamReader r(d);
        r.ReadString();
        r.ReadInteger();
        TOptions o;
        o.LoadFromStream(r);
        size_t before = r.Position();
        r.ReadString();
        return d.substr(0, before) + d.substr(r.Position());
    };
    EXPECT_EQ(strip(first), strip(second));
}

TEST_F(ModelTest, VersionsAndCounts) {
    struct Case {
        const char* version;
        int count, good;
        bool damaged;
        bool loads;
        int boxes;
    } cases[] = {
        {"10", 2, 2, false, true, 2}, {"9", 1, 1, false, true, 1},  {"1", 0, 0, false, true, 0},
        {"11", 1, 1, false, false, 0}, {"10", -3, 0, false, true, 0},
        {"10", 5, 2, true, false, 0},  // third of five damaged: nothing is kept
        {"10", 3, 1, false, false, 0}, // truncated after the first record
        {"ten", 0, 0, false, false, 0},
    };
    for (auto& c : cases) {
        WriteFile(DataBin(), MakeDataBin(c.version, c.count, c.good, c.damaged));
        auto col = NewCollection();
        EXPECT_EQ(col->LoadFromFile(DataBin()), c.loads) << c.version << " " << c.count;
        EXPECT_EQ(col->Count(), c.boxes) << c.version << " " << c.count;
        EXPECT_EQ(col->DataFileName, DataBin());
    }
}

TEST_F(ModelTest, DamagedFilesNeverCrashAndAreKeptOnTheNextSave) {
    std::string good = MakeDataBin("10", 2, 2, false);
    // Every truncation of a good file, and a few byte flips, load or fail cleanly.
    for (size_t len = 0; len < good.size(); len += 7) {
        WriteFile(DataBin(), good.substr(0, len));
        auto col = NewCollection();
        if (!col->LoadFromFile(DataBin())) {
            EXPECT_EQ(col->Count(), 0);
        }
    }
    for (size_t pos = 0; pos < good.size(); pos += 11) {
        std::string bad = good;
        bad[pos] = static_cast<char>(bad[pos] ^ 0x5A);
        WriteFile(DataBin(), bad);
        auto col = NewCollection();
        if (!col->LoadFromFile(DataBin())) {
            EXPECT_EQ(col->Count(), 0);
        }
    }

    // A list from a newer version is not destroyed by the save that follows.
    std::string newer = MakeDataBin("11", 1, 1, false);
    WriteFile(DataBin(), newer);
    auto col = NewCollection();
    EXPECT_FALSE(col->LoadFromFile(DataBin()));
    col->Save();
    EXPECT_EQ(ReadFile(DataBin() + ".bak"), newer);
    auto reread = NewCollection();
    EXPECT_TRUE(reread->LoadFromFile(DataBin()));
}

TEST_F(ModelTest, SaveFailureLeavesTheOldFileAndRaises) {
    folders_->LoadFromFile(DataBin());
    AddBox("a");
    folders_->Save();
    std::string before = ReadFile(DataBin());
    // The temporary file cannot be made: a directory stands in its place.
    fs::create_directory(DataBin() + ".tmp");
    AddBox("b");
    EXPECT_THROW(folders_->Save(), std::runtime_error);
    EXPECT_EQ(ReadFile(DataBin()), before);
    EXPECT_EQ(folders_->Count(), 2);
    fs::remove(DataBin() + ".tmp");
}

TEST_F(ModelTest, DeleteFolderRemovesCacheAndForgetsTheOpenMailbox) {
    folders_->LoadFromFile(DataBin());
    TMailFolder& a = AddBox("a");
    AddBox("b");
    a.EnsureCacheDir();
    a.Opened = true;
    ASSERT_TRUE(a.Open());
    ASSERT_EQ(folders_->CurrentFolder, &a);
    ASSERT_TRUE(fs::is_directory(home_ / "MailRoot" / "a"));
    folders_->DeleteFolder(0);
    EXPECT_EQ(folders_->CurrentFolder, nullptr);
    EXPECT_FALSE(fs::exists(home_ / "MailRoot" / "a"));
    auto reread = NewCollection();
    reread->LoadFromFile(DataBin());
    ASSERT_EQ(reread->Count(), 1);
    EXPECT_EQ(reread->Items(0).Alias, "b");
}

TEST_F(ModelTest, MailRootLivesForOneRun) {
    fs::path root = home_ / "MailRoot";
    ASSERT_TRUE(fs::is_directory(root));
    struct stat st {};
    ::stat(root.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    fs::create_directories(root / "x" / "deep");
    WriteFile((root / "x" / "deep" / "f").string(), "data");
    ::chmod((root / "x" / "deep").c_str(), 0500); // read-only folder inside
    folders_.reset();
    EXPECT_FALSE(fs::exists(root));
    folders_ = NewCollection();
    EXPECT_TRUE(fs::is_directory(root));
}

TEST_F(ModelTest, AliasesThatLeaveMailRootGetNoCacheAndDeleteNothing) {
    folders_->LoadFromFile(DataBin());
    fs::create_directories(home_ / "keep");
    WriteFile((home_ / "keep" / "f").string(), "x");
    for (const char* alias : {"..", ".", "", "../keep", "a/b"}) {
        TMailFolder& b = AddBox(alias);
        EXPECT_FALSE(b.EnsureCacheDir()) << alias;
    }
    folders_->Clear();
    EXPECT_TRUE(fs::exists(home_ / "keep" / "f"));
    EXPECT_TRUE(fs::is_directory(home_ / "MailRoot"));
}

TEST_F(ModelTest, RecordFieldsReadFromTheirTexts) {
    // Defaults: authentication on, SSL off, ports 25 and 110, 1024 and 10 MiB.
    TMailFolder d(nullptr);
    EXPECT_TRUE(d.SmtpAuth);
    EXPECT_FALSE(d.SmtpSsl);
    EXPECT_EQ(d.SmtpPort, 25);
    EXPECT_EQ(d.PopPort, 110);
    EXPECT_EQ(d.Capacity, 1073741824u);
    EXPECT_EQ(d.MaxAttachSize, 10485760u);

    TStreamWriter w;
    for (const char* item : {"smtp", "a@b", "587", "1", "0", "pop", "110", "0", "acc", "pw",
                             "Box", "4294967295", "5242880", "39814.5"})
        w.WriteString(item);
    TStreamReader r(w.Data());
    TMailFolder g(folders_.get());
    ASSERT_TRUE(g.LoadFromStream(r));
    EXPECT_TRUE(g.SmtpSsl);
    EXPECT_FALSE(g.SmtpAuth);
    EXPECT_EQ(g.SmtpPort, 587);
    EXPECT_EQ(g.Capacity, 0xFFFFFFFFu);
    EXPECT_EQ(g.MaxAttachSize, 5242880u);
    EXPECT_TRUE(fs::is_directory(home_ / "MailRoot" / "Box"));
}
