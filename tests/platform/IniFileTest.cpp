#include "AppDir.h"
#include "IniFile.h"
#include "RegisterDll.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {
fs::path TempDir(const char* name) {
    fs::path p = fs::temp_directory_path() / (std::string("tavrel-") + name + "-" +
                                              std::to_string(::getpid()));
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}
} // namespace

TEST(IniFile, ReadsWritesAndIgnoresCaseOfNames) {
    fs::path dir = TempDir("ini");
    std::string file = (dir / "Tavrel.ini").string();
    {
        std::ofstream f(file);
        f << "; comment\n[IMAP]\nDomain=GMAIL.COM\nPort = 993\n[TLS]\nVerifyPeer=0\nbroken line\n";
    }
    {
        TIniFile ini(file);
        EXPECT_EQ(ini.ReadString("imap", "DOMAIN", "x"), "GMAIL.COM");
        EXPECT_EQ(ini.ReadInteger("IMAP", "Port", 1), 993);
        EXPECT_EQ(ini.ReadInteger("IMAP", "Host", 7), 7);
        EXPECT_FALSE(ini.ReadBool("TLS", "VerifyPeer", true));
        EXPECT_EQ(ini.ReadInteger("IMAP", "Domain", -1), -1); // not a number: default
        ini.WriteString("Main", "Left", "12");
        ini.WriteInteger("imap", "port", 1993);
    } // written on destruction
    TIniFile again(file);
    EXPECT_EQ(again.ReadInteger("MAIN", "left", 0), 12);
    EXPECT_EQ(again.ReadInteger("IMAP", "Port", 0), 1993);
    EXPECT_EQ(again.Sections().size(), 3u);
    fs::remove_all(dir);
}

TEST(AppDir, ComesFromTavrelHomeWithTrailingSlash) {
    fs::path dir = TempDir("home") / "sub";
    setenv("TAVREL_HOME", dir.c_str(), 1);
    InitAppDir();
    EXPECT_EQ(AppDir(), dir.string() + "/");
    EXPECT_TRUE(fs::is_directory(dir));
    unsetenv("TAVREL_HOME");
    fs::remove_all(dir.parent_path());
}

TEST(RegisterDll, MapsNamesAndStaysSilentOnFailure) {
    fs::path dir = TempDir("reg");
    SetAppDir(dir.string());
    EXPECT_EQ(LibraryPath("Pondra.dll"), dir.string() + "/libPondra.so");
    EXPECT_EQ(LibraryPath("Yarrowin.DLL"), dir.string() + "/libYarrowin.so");
    EXPECT_EQ(LibraryPath("/x/y/Pondra.dll"), "/x/y/libPondra.so");
    EXPECT_EQ(LibraryPath("/x/y/libz.so"), "/x/y/libz.so");
    RegisterDll("/nonexistent/Nothing.dll"); // no library: nothing happens
    UnregisterDll("Nothing.dll");
    RegisterStartupComponents();
    fs::remove_all(dir);
}
