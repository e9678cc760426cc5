#include "Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kClsKey =
    "HKEY_CLASSES_ROOT\\CLSID\\{67F75E16-82C8-49A0-A586-C1026D21B08C}";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tavrel-registry-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        file_ = (dir_ / "sub" / "registry.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string FileText() const {
        std::ifstream in(file_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void SetFileText(const std::string& text) const {
        fs::create_directories(fs::path(file_).parent_path());
        std::ofstream(file_, std::ios::binary) << text;
    }

    fs::path dir_;
    std::string file_;
};

TEST_F(RegistryTest, ValuesSurviveTheFileWithEveryByteAndIgnoreNameCase) {
    TRegistry reg(file_);
    const std::string awkward = std::string("a \"quoted\" C:\\path\r\n\ttab \x01\x7f end ") +
                                "\xc3\xa4\xe2\x82\xac" + std::string(1, '\0') + "x";
    std::vector<std::uint8_t> bytes = {0x00, 0x00, 0x00, 0x20, 0xff, 0x0a, 0x5c};
    ASSERT_TRUE(reg.WriteString(kClsKey + "\\InprocServer32", "", "/opt/t/libPondra.so"));
    ASSERT_TRUE(reg.WriteString(kClsKey + "\\InProcServer32", "ThreadingModel", "Apartment"));
    ASSERT_TRUE(reg.WriteString(kClsKey, "we\"ird=name\\", awkward));
    ASSERT_TRUE(reg.WriteString(kClsKey, "empty", ""));
    ASSERT_TRUE(reg.WriteBinary(kClsKey + "\\ShellFolder", "Attributes", bytes));
    ASSERT_TRUE(reg.WriteBinary(kClsKey + "\\ShellFolder", "Nothing", {}));

    TRegistry again(file_); // a fresh reader sees only what is in the file
    const std::string lower = "hkey_classes_root\\clsid\\{67f75e16-82c8-49a0-a586-c1026d21b08c}";
    EXPECT_EQ(again.ReadString(lower + "\\INPROCSERVER32", ""), "/opt/t/libPondra.so");
    EXPECT_EQ(again.ReadString(kClsKey + "\\InprocServer32", "threadingmodel"), "Apartment");
    EXPECT_EQ(again.ReadString(kClsKey, "WE\"IRD=NAME\\"), awkward);
    EXPECT_EQ(again.ReadString(kClsKey, "empty"), "");
    EXPECT_EQ(again.ReadBinary(kClsKey + "\\ShellFolder", "attributes"), bytes);
    EXPECT_EQ(again.ReadBinary(kClsKey + "\\ShellFolder", "Nothing"), std::vector<std::uint8_t>{});
    // Type and presence are told apart.
    EXPECT_EQ(again.ReadString(kClsKey + "\\ShellFolder", "Attributes"), std::nullopt);
    EXPECT_EQ(again.ReadBinary(kClsKey, "empty"), std::nullopt);
    EXPECT_FALSE(again.ValueExists(kClsKey, "")); // the key has no default value
    EXPECT_FALSE(again.ValueExists(kClsKey + "\\Missing", ""));

    // Keys keep their first spelling, parents were created, a value is replaced in place.
    EXPECT_TRUE(again.KeyExists("HKEY_CLASSES_ROOT"));
    EXPECT_TRUE(again.KeyExists("hkey_classes_root\\CLSID"));
    EXPECT_EQ(again.SubKeys(lower), (std::vector<std::string>{"InprocServer32", "ShellFolder"}));
    EXPECT_EQ(again.ValueNames(kClsKey + "\\InprocServer32"),
              (std::vector<std::string>{"", "ThreadingModel"}));
    ASSERT_TRUE(again.WriteString(kClsKey + "\\INPROCSERVER32", "", "/new"));
    EXPECT_EQ(reg.ReadString(kClsKey + "\\InprocServer32", ""), "/new");
    EXPECT_EQ(reg.ValueNames(kClsKey + "\\InprocServer32").size(), 2u);
    EXPECT_EQ(FileText().find("INPROCSERVER32"), std::string::npos);
}

TEST_F(RegistryTest, DeleteKeyTakesItsSubtreeAndNothingElse) {
    TRegistry reg(file_);
    ASSERT_TRUE(reg.WriteString("HKLM\\A\\Key\\Sub\\Deeper", "v", "1"));
    ASSERT_TRUE(reg.WriteString("HKLM\\A\\Key", "", "self"));
    ASSERT_TRUE(reg.WriteString("HKLM\\A\\KeyMore", "", "sibling with the same prefix"));
    ASSERT_TRUE(reg.WriteString("HKLM\\A", "keep", "parent value"));

    EXPECT_TRUE(reg.DeleteKey("hklm\\a\\KEY"));
    EXPECT_FALSE(reg.KeyExists("HKLM\\A\\Key"));
    EXPECT_FALSE(reg.KeyExists("HKLM\\A\\Key\\Sub"));
    EXPECT_FALSE(reg.KeyExists("HKLM\\A\\Key\\Sub\\Deeper"));
    EXPECT_EQ(reg.ReadString("HKLM\\A\\KeyMore", ""), "sibling with the same prefix");
    EXPECT_EQ(reg.ReadString("HKLM\\A", "keep"), "parent value");
    EXPECT_EQ(reg.SubKeys("HKLM\\A"), std::vector<std::string>{"KeyMore"});

    // Missing keys and values are no error.
    EXPECT_TRUE(reg.DeleteKey("HKLM\\A\\Key"));
    EXPECT_TRUE(reg.DeleteValue("HKLM\\A", "gone"));
    EXPECT_TRUE(reg.DeleteValue("HKLM\\Nowhere", "gone"));
    EXPECT_TRUE(reg.DeleteValue("HKLM\\A", "KEEP"));
    EXPECT_FALSE(reg.ValueExists("HKLM\\A", "keep"));
    EXPECT_TRUE(reg.KeyExists("HKLM\\A")); // deleting its last value keeps the key

    // Creating a key that exists changes nothing.
    std::string before = FileText();
    EXPECT_TRUE(reg.CreateKey("hklm\\a"));
    EXPECT_EQ(FileText(), before);
    EXPECT_TRUE(reg.CreateKey("HKLM\\A\\New\\Leaf"));
    EXPECT_TRUE(reg.KeyExists("HKLM\\A\\New"));
}

TEST_F(RegistryTest, MalformedKeyPathsAreRefused) {
    TRegistry reg(file_);
    const std::vector<std::string> badPaths = {"", "\\HKLM\\A", "HKLM\\A\\", "HKLM\\\\A", "HKLM\\A\nB",
                                               std::string("HKLM\\A\0B", 8), "HKLM\\\x7f"};
    for (const std::string& bad : badPaths) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(reg.CreateKey(bad));
        EXPECT_FALSE(reg.WriteString(bad, "", "x"));
        EXPECT_FALSE(reg.KeyExists(bad));
        EXPECT_FALSE(reg.DeleteKey(bad));
    }
    EXPECT_FALSE(fs::exists(file_)); // nothing was written
}

TEST_F(RegistryTest, ReadsHandWrittenFilesAndSkipsWhatDoesNotParse) {
    SetFileText("; a comment\r\n"
                "\"orphan\"=\"no key yet\"\r\n"
                "[HKEY_LOCAL_MACHINE\\Software\\Kelmora\\Tavrel]\r\n"
                "  @ = \"/usr/bin/Tavrel\"  \r\n"
                "\"Ver\"=\"2.3\"\n"
                "# another comment\n"
                "\"Bad\"=\"unterminated\n"
                "\"BadEscape\"=\"\\q\"\n"
                "\"Trailing\"=\"x\" junk\n"
                "\"BadHex\"=hex:0g\n"
                "\"Hex\"=hex: 0A, ff ,00\n"
                "[HKLM\\\\Broken]\n"
                "\"LostWithItsKey\"=\"1\"\n"
                "[hkey_local_machine\\software\\kelmora\\tavrel]\n"
                "\"ver\"=\"2.4\"\n");
    TRegistry reg(file_);
    const std::string key = "HKEY_LOCAL_MACHINE\\Software\\Kelmora\\Tavrel";
    EXPECT_EQ(reg.ReadString(key, ""), "/usr/bin/Tavrel");
    EXPECT_EQ(reg.ReadString(key, "Ver"), "2.4"); // a repeated section merges, last wins
    EXPECT_EQ(reg.ReadBinary(key, "Hex"), (std::vector<std::uint8_t>{0x0a, 0xff, 0x00}));
    EXPECT_EQ(reg.ValueNames(key), (std::vector<std::string>{"", "Ver", "Hex"}));
    EXPECT_FALSE(reg.KeyExists("HKLM"));
    EXPECT_TRUE(reg.KeyExists("HKEY_LOCAL_MACHINE\\Software")); // parents are implied
}

TEST_F(RegistryTest, UnwritableRegistryReportsFailureAndKeepsTheFile) {
    // A path below a regular file can be neither created nor written, even by root.
    fs::path blocker = dir_ / "plain-file";
    std::ofstream(blocker) << "x";
    TRegistry blocked((blocker / "registry.ini").string());
    EXPECT_FALSE(blocked.CreateKey("HKLM\\A"));
    EXPECT_FALSE(blocked.WriteString("HKLM\\A", "", "x"));
    EXPECT_FALSE(blocked.WriteBinary("HKLM\\A", "", {1}));
    EXPECT_FALSE(blocked.KeyExists("HKLM\\A"));
    EXPECT_TRUE(blocked.DeleteKey("HKLM\\A")); // nothing there to delete

    // A registry "file" that cannot be read is not replaced by an empty one.
    fs::create_directories(dir_ / "is-a-dir" / "inside");
    TRegistry unreadable((dir_ / "is-a-dir").string());
    EXPECT_FALSE(unreadable.WriteString("HKLM\\A", "", "x"));
    EXPECT_TRUE(fs::is_directory(dir_ / "is-a-dir" / "inside"));
}

TEST_F(RegistryTest, WritesAtomicallyAndKeepsModeAndLinks) {
    TRegistry reg(file_);
    ASSERT_TRUE(reg.WriteString("HKLM\\A", "", "x"));
    fs::permissions(file_, fs::perms(0640));
    ASSERT_TRUE(reg.WriteString("HKLM\\A", "v", "y"));
    EXPECT_EQ(fs::status(file_).permissions(), fs::perms(0640));
    for (auto& e : fs::directory_iterator(fs::path(file_).parent_path())) {
        std::string name = e.path().filename().string();
        EXPECT_TRUE(name == "registry.ini" || name == "registry.ini.lock") << name;
    }

    // A registry file reached through a symbolic link: the link stays a link.
    fs::path link = dir_ / "link.ini";
    fs::create_symlink(file_, link);
    TRegistry viaLink(link.string());
    ASSERT_TRUE(viaLink.WriteString("HKLM\\B", "", "z"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(reg.ReadString("HKLM\\B", ""), "z");
}

TEST_F(RegistryTest, ConcurrentWritersLoseNothing) {
    // Each change is a read-modify-write of the whole file; two writers at once must not
    // drop each other's values.
    constexpr int kPerWriter = 40;
    auto writer = [&](const std::string& prefix) {
        TRegistry reg(file_);
        for (int i = 0; i < kPerWriter; ++i)
            EXPECT_TRUE(reg.WriteString("HKLM\\Shared", prefix + std::to_string(i), "v"));
    };
    std::thread a(writer, "a"), b(writer, "b");
    a.join();
    b.join();
    EXPECT_EQ(TRegistry(file_).ValueNames("HKLM\\Shared").size(), 2u * kPerWriter);
}

TEST(RegistryFile, DefaultFileComesFromTheEnvironment) {
    struct Case {
        const char* registry;
        const char* xdg;
        const char* home;
        std::string expected;
    };
    const Case cases[] = {
        {"/r/my.ini", "/x", "/h", "/r/my.ini"},
        {"", "/x", "/h", "/x/tavrel/registry.ini"},
        {nullptr, "/x/", "/h", "/x/tavrel/registry.ini"},
        {nullptr, "", "/h", "/h/.config/tavrel/registry.ini"},
        {nullptr, nullptr, "/h", "/h/.config/tavrel/registry.ini"},
    };
    auto set = [](const char* name, const char* value) {
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    };
    const char* saved[3] = {std::getenv("TAVREL_REGISTRY"), std::getenv("XDG_CONFIG_HOME"),
                            std::getenv("HOME")};
    std::string keep[3];
    for (int i = 0; i < 3; ++i) keep[i] = saved[i] ? saved[i] : "";
    for (const auto& c : cases) {
        set("TAVREL_REGISTRY", c.registry);
        set("XDG_CONFIG_HOME", c.xdg);
        set("HOME", c.home);
        EXPECT_EQ(TRegistry::DefaultFileName(), c.expected);
        EXPECT_EQ(TRegistry().FileName(), c.expected);
    }
    set("TAVREL_REGISTRY", saved[0] ? keep[0].c_str() : nullptr);
    set("XDG_CONFIG_HOME", saved[1] ? keep[1].c_str() : nullptr);
    set("HOME", saved[2] ? keep[2].c_str() : nullptr);
}

} // namespace
