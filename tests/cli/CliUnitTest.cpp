// The parts of tavrel-cli that need no server: the command line, mailbox paths as typed,
// the progress line, the walk of local folders for their links, and the stored times of
// fetched copies.
#include "Arguments.h"
#include "ExFile.h"
#include "FetchedTimes.h"
#include "LocalTree.h"
#include "ProgressPrinter.h"
#include "Session.h"
#include "Table.h"
#include "TextUtil.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {
bool Parse(std::vector<std::string> argv, TCliArgs& out, std::string& error) {
    return ParseArguments(argv, out, error);
}
} // namespace

TEST(CliArguments, AcceptsGlobalOptionsAnywhereAndBothValueForms) {
    TCliArgs a;
    std::string error;
    ASSERT_TRUE(Parse({"put", "Box", "--home", "/h", "x", "--to=docs/sub", "--yes", "--", "-odd"},
                      a, error))
        << error;
    EXPECT_EQ(a.home, "/h");
    EXPECT_EQ(a.answers, TAnswerMode::Yes);
    EXPECT_EQ(a.command, "put");
    EXPECT_EQ(a.operands, (std::vector<std::string>{"Box", "x", "-odd"}));
    EXPECT_EQ(a.Value("--to"), "docs/sub");

    ASSERT_TRUE(Parse({"ls", "-lR", "Box", "a"}, a, error)) << error;
    EXPECT_TRUE(a.Has("-l"));
    EXPECT_TRUE(a.Has("-R"));

    ASSERT_TRUE(Parse({"add-box", "B", "--address", "a@b", "--smtp", "h:25", "--pop", "h",
                       "--account", "u", "--password", "-starts-with-dash", "--no-auth"},
                      a, error))
        << error;
    EXPECT_EQ(a.Value("--password"), "-starts-with-dash");
    EXPECT_TRUE(a.Has("--no-auth"));

    ASSERT_TRUE(Parse({"--version"}, a, error));
    EXPECT_TRUE(a.version);
}

TEST(CliArguments, RefusesWhatIsNotAValidCommandLine) {
    struct Case {
        std::vector<std::string> argv;
        std::string error; // part of the message
    };
    const std::vector<Case> cases = {
        {{}, "no command"},
        {{"frobnicate"}, "unknown command"},
        {{"ls"}, "usage: tavrel-cli ls BOX [PATH] [-R] [-l]"},
        {{"get", "B"}, "usage: tavrel-cli get BOX PATH... [--to DIR]"},
        {{"ls", "B", "p", "q"}, "usage: tavrel-cli ls"},
        {{"find", "B"}, "usage: tavrel-cli find BOX TEXT"},
        {{"ls", "B", "--to", "x"}, "unknown option --to for ls"},
        {{"put", "B", "x", "--to"}, "--to needs a value"},
        {{"get", "B", "x", "--to", "a", "--to", "b"}, "--to is given twice"},
        {{"--yes", "--no", "boxes"}, "--yes and --no exclude each other"},
        {{"--home"}, "--home needs a folder"},
        {{"--home=", "boxes"}, "--home needs a folder"},
        {{"rm", "B", "x", "-R"}, "unknown option -R for rm"},
        {{"boxes", "--smtp-ssl=1"}, "--smtp-ssl takes no value"},
        {{"add-box", "B", "--smtp", "h", "--pop", "h", "--account", "u"}, "needs --address"},
        {{"add-box", "B", "--address", "a@b", "--smtp", "h", "--pop", "h", "--account", "u",
          "--max-attach-mib", "1", "--max-attach-bytes", "2048"},
         "exclude each other"},
        {{"edit-box", "B", "--smtp-ssl", "--no-smtp-ssl"}, "exclude each other"},
        {{"--password-stdin", "edit-box", "B", "--password", "p"}, "exclude each other"},
        // An option no command takes is named, wherever it stands.
        {{"--foo"}, "unknown option --foo"},
        {{"--foo=1", "boxes"}, "unknown option --foo"},
        {{"ls", "B", "--foo"}, "unknown option --foo"},
        {{"ls", "-lz", "B"}, "unknown option -z"},
        {{"help", "frob"}, "unknown command \"frob\""},
        {{"frob", "--help"}, "unknown command \"frob\""},
        {{"help", "ls", "rm"}, "usage: tavrel-cli help [COMMAND]"},
    };
    for (const auto& c : cases) {
        TCliArgs a;
        std::string error;
        std::string shown;
        for (const auto& s : c.argv) shown += s + " ";
        EXPECT_FALSE(Parse(c.argv, a, error)) << shown;
        EXPECT_NE(error.find(c.error), std::string::npos) << shown << "-> " << error;
        if (c.error != "no command") {
            EXPECT_EQ(error.find("no command"), std::string::npos) << shown;
        }
    }
}

TEST(CliArguments, HelpForOneCommandOrAll) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> asked = {
        {{"help"}, ""}, {{"--help"}, ""},          {{"help", "ls"}, "ls"},
        {{"ls", "--help"}, "ls"}, {{"-h", "rm-box", "X"}, "rm-box"}, {{"help", "help"}, "help"},
        {{"help", "--bogus"}, ""}, // help wins over what it would refuse
    };
    for (const auto& [argv, topic] : asked) {
        TCliArgs a;
        std::string error;
        ASSERT_TRUE(Parse(argv, a, error)) << argv[0] << ": " << error;
        EXPECT_TRUE(a.help) << argv[0];
        EXPECT_EQ(a.helpTopic, topic) << argv[0];
    }
    EXPECT_EQ(CommandUsage("ls").rfind("Usage: tavrel-cli ls BOX [PATH] [-R] [-l]\n", 0), 0u);
    EXPECT_EQ(CommandUsage("frob"), "");
}

TEST(CliArguments, EveryUsageNamesTheCommandsOptions) {
    // The words of a usage text, without the brackets and bars around them.
    auto words = [](const std::string& text) {
        std::set<std::string> out;
        std::string w;
        for (char ch : text + " ") {
            if (std::string(" \n[]|").find(ch) == std::string::npos) {
                w += ch;
            } else if (!w.empty()) {
                out.insert(w);
                w.clear();
            }
        }
        return out;
    };
    const std::set<std::string> all = words(UsageText());
    for (const TCommandInfo& c : CommandList()) {
        const std::string usage = CommandUsage(c.name);
        const std::set<std::string> own = words(usage.substr(0, usage.find("\nOptions:")));
        std::vector<std::string> options = c.valueOptions;
        options.insert(options.end(), c.flagOptions.begin(), c.flagOptions.end());
        for (const auto& o : options) {
            EXPECT_TRUE(own.count(o)) << c.name << " usage lacks " << o;
            if (*c.group) {
                EXPECT_TRUE(all.count(o)) << "--help lacks " << o << " of " << c.name;
            }
        }
        EXPECT_TRUE(all.count(c.name)) << "--help lacks " << c.name;
        TCliArgs a;
        std::string error;
        EXPECT_TRUE(Parse({"help", c.name}, a, error) && a.helpTopic == c.name) << c.name;
    }
}

TEST(CliPaths, TypedPathsBecomeStoredPaths) {
    const std::vector<std::pair<std::string, std::string>> good = {
        {"", "\\"},
        {"/", "\\"},
        {"\\", "\\"},
        {"docs", "\\docs"},
        {"/docs/a b.txt", "\\docs\\a b.txt"},
        {"\\docs\\sub\\", "\\docs\\sub"},
        {"docs//sub/", "\\docs\\sub"},
        {"\xc3\xa4rger/\xc3\xbc.txt", "\\\xc3\xa4rger\\\xc3\xbc.txt"},
    };
    for (const auto& [typed, stored] : good) {
        std::string p;
        EXPECT_TRUE(NormalizeMailboxPath(typed, p)) << typed;
        EXPECT_EQ(p, stored) << typed;
    }
    const std::vector<std::string> bad = {"a/../b", "./a", "a/b?", "a*", "x:y", "a\"b",
                                          "a|b", "a<b", "a\x01", "a\x7f"};
    for (const std::string& typed : bad) {
        std::string p;
        EXPECT_FALSE(NormalizeMailboxPath(typed, p)) << typed;
    }
}

TEST(CliProgress, BytesLineShowsAmountRateAndTimeLeft) {
    TTransferSample s;
    s.bytes = true;
    s.maximum = 4 * 1024 * 1024;
    s.position = 1024 * 1024;
    s.startPosition = 0;
    s.elapsedSeconds = 2.0; // 512 KB/s, 3 MB left -> 6 s
    std::string line = ProgressLine("Sending 1 of 4...", s, 200);
    EXPECT_EQ(line, "Sending 1 of 4...  [#####...............]  25%  1.0 MB of 4.0 MB  512 KB/s  0:06 left");

    // Too early for a rate: no rate and no time left.
    s.elapsedSeconds = 0.1;
    EXPECT_EQ(ProgressLine("Download...", s, 200).find("/s"), std::string::npos);

    // Mail counts, not bytes.
    TTransferSample m;
    m.maximum = 40;
    m.position = 10;
    EXPECT_EQ(ProgressLine("List all file/folder structure from mail server", m, 200),
              "List all file/folder structure from mail server  [#####...............]  25%  10 of 40");

    // On an 80-column terminal the status stays whole; the bar gets shorter first, then
    // the amount goes, the rate and time left stay.
    s.elapsedSeconds = 2.0;
    EXPECT_EQ(ProgressLine("Sending 229 of 229...", s, 80),
              "Sending 229 of 229...  [##........]  25%  1.0 MB of 4.0 MB  512 KB/s  0:06 left");
    EXPECT_EQ(ProgressLine("Sending 229 of 229...", s, 64),
              "Sending 229 of 229...  [##........]  25%  512 KB/s  0:06 left");
    EXPECT_EQ(ProgressLine("Sending 229 of 229...", s, 50), "Sending 229 of 229...  [##........]  25%");
    // Without a status text the line starts with the bar.
    EXPECT_EQ(ProgressLine("", s, 60).rfind("[##", 0), 0u);

    // Nothing to show but the text; an empty status and no maximum gives an empty line.
    EXPECT_EQ(ProgressLine("Connect...", TTransferSample{}, 80), "Connect...");
    EXPECT_EQ(ProgressLine("", TTransferSample{}, 80), "");
}

TEST(CliProgress, LineFitsTheTerminalAndCarriesNoControlCharacters) {
    TTransferSample s;
    s.bytes = true;
    s.maximum = 1000;
    s.position = 2000; // more than the maximum: shown as full, never beyond
    std::string line = ProgressLine("Sending 12 of 13... a very long status text indeed", s, 60);
    EXPECT_LE(DisplayWidth(line), 59u);
    EXPECT_NE(line.find("100%"), std::string::npos);
    EXPECT_NE(line.find("..."), std::string::npos);

    // Text from a server: escapes, C1 controls and line breaks cannot reach the terminal.
    std::string hostile = "ERR \x1b[2J\xc2\x9b" "31m bad\r\nsecond\x07";
    std::string shown = SanitizeForTerminal(hostile);
    EXPECT_EQ(shown, "ERR ?[2J?31m bad second?");
    EXPECT_EQ(SanitizeForTerminal("a\r\nb", "\n"), "a\nb");
    // A multi-byte name is cut between characters, never inside one.
    std::string name = ProgressLine("\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4", TTransferSample{}, 3);
    EXPECT_EQ(name, "\xc3\xa4\xc3\xa4");
}

TEST(CliTable, SizesAreGroupedByThousands) {
    const std::vector<std::pair<std::string, std::string>> sizes = {
        {"0 KB", "0 KB"},
        {"999 KB", "999 KB"},
        {"1,024 KB", "1,024 KB"},
        {"12345 KB", "12,345 KB"},
        {"1048,576 KB", "1,048,576 KB"},     // as the model writes 1 GiB
        {SizeToText(0xFFFFFFFF), "4,194,304 KB"},
        {"1,5 KB", "15 KB"},                 // commas only ever group digits here
        {"", ""},
        {"File Folder", "File Folder"},
        {"7, KB", "7, KB"},                  // a comma that ends the number stays text
    };
    for (const auto& [text, shown] : sizes) EXPECT_EQ(GroupedSize(text), shown) << text;
}

TEST(CliProgress, ByteAndDurationTexts) {
    const std::vector<std::pair<int64_t, std::string>> bytes = {
        {-5, "0 B"},       {0, "0 B"},           {1023, "1023 B"},           {1024, "1.0 KB"},
        {1536, "1.5 KB"},  {10 * 1024, "10 KB"}, {5LL << 30, "5.0 GB"},
    };
    for (const auto& [n, text] : bytes) EXPECT_EQ(FormatBytes(n), text) << n;
    EXPECT_EQ(FormatDuration(5), "0:05");
    EXPECT_EQ(FormatDuration(754), "12:34");
    EXPECT_EQ(FormatDuration(3723), "1:02:03");
    EXPECT_EQ(FormatDuration(-1), "--:--");
    EXPECT_EQ(FormatDuration(1e12), "--:--");
}

TEST(CliLocalTree, LinksToFoldersAreFollowedAndLoopsNamed) {
    const fs::path top =
        fs::temp_directory_path() / ("tavrel-cli-tree-" + std::to_string(::getpid()));
    fs::remove_all(top);
    const fs::path root = top / "root", outside = top / "outside";
    fs::create_directories(root / "a");
    fs::create_directories(outside / "deeper");
    fs::create_directories(top / "other");
    std::ofstream(outside / "f.txt") << "f";
    fs::create_directory_symlink("..", root / "a" / "up");         // to the stored folder
    fs::create_directory_symlink(".", root / "a" / "self");        // to the folder holding it
    fs::create_directory_symlink("../outside", root / "b");        // a folder elsewhere
    fs::create_directory_symlink("../outside", root / "bad|name"); // not a storable name
    fs::create_symlink("../outside/f.txt", root / "file");         // a file: AddLocal's part
    fs::create_symlink("nowhere", root / "broken");                // AddLocal's part too
    // Through the followed link: one that leads back to the stored folder, one that does not.
    fs::create_directory_symlink("../../root", outside / "deeper" / "back");
    fs::create_directory_symlink("../../other", outside / "deeper" / "other");
    fs::create_directory_symlink("root", top / "via-link");

    // The stored folder named directly, and through a link to it: the same walk.
    for (const fs::path& start : {root, top / "via-link"}) {
        const std::string r = start.string();
        std::vector<std::string> loops;
        std::vector<TFolderLink> links = FolderLinksBelow(r, loops);
        ASSERT_EQ(links.size(), 2u) << r;
        EXPECT_EQ(links[0].local, r + "/b");
        EXPECT_EQ(links[0].parent, "");
        EXPECT_EQ(links[1].local, r + "/b/deeper/other");
        EXPECT_EQ(links[1].parent, "b\\deeper\\");
        EXPECT_EQ(loops, (std::vector<std::string>{r + "/a/self", r + "/a/up",
                                                   r + "/b/deeper/back"}))
            << r;
    }
    // A file, or what is not there, has nothing below it.
    std::vector<std::string> loops;
    EXPECT_TRUE(FolderLinksBelow((outside / "f.txt").string(), loops).empty());
    EXPECT_TRUE(FolderLinksBelow((top / "missing").string(), loops).empty());
    EXPECT_TRUE(loops.empty());
    EXPECT_EQ(UnreadableFolderReason(root.string()), "");
    EXPECT_NE(UnreadableFolderReason((top / "missing").string()), "");
    fs::remove_all(top);
}

TEST(CliFetchedTimes, StoredTimesAreTheFileTimesTheyWereMadeFrom) {
    // As a file's time goes into its subject: UTC, whole milliseconds.
    const std::vector<std::pair<timespec, timespec>> times = {
        {{0, 0}, {0, 0}},
        {{1700000000, 123456789}, {1700000000, 123000000}},
        {{-1, 500000000}, {-1, 500000000}}, // half a second before 1970
        {{-86400 * 365, 0}, {-86400 * 365, 0}},
        {{253402300799, 999000000}, {253402300799, 999000000}}, // the last of 9999
    };
    for (const auto& [t, expected] : times) {
        timespec back{};
        ASSERT_TRUE(StoredTimeToFileTime(FileTimeToText(t), back)) << t.tv_sec;
        EXPECT_EQ(back.tv_sec, expected.tv_sec) << t.tv_sec;
        EXPECT_EQ(back.tv_nsec, expected.tv_nsec) << t.tv_sec;
    }
    timespec out{};
    ASSERT_TRUE(StoredTimeToFileTime("25569,5", out)); // written under a "," locale
    EXPECT_EQ(out.tv_sec, 43200);
    for (const std::string bad : {"", "yesterday", "1E400", "3000000", "-700000"})
        EXPECT_FALSE(StoredTimeToFileTime(bad, out)) << bad;
}

TEST(CliFetchedTimes, CopiesOfAnEntryGetTheirStoredTimes) {
    const fs::path target =
        fs::temp_directory_path() / ("tavrel-cli-times-" + std::to_string(::getpid()));
    fs::remove_all(target);
    fs::create_directories(target / "docs" / "sub");
    for (const char* rel : {"docs/a.txt", "docs/sub/b.txt", "docs/mine.txt", "x.txt"})
        std::ofstream(target / rel) << "x";
    auto mtime = [&](const char* rel) {
        struct stat st {};
        ::stat((target / rel).c_str(), &st);
        return st.st_mtim.tv_sec;
    };
    auto file = [](const std::string& path, time_t modified) {
        TExFile e;
        e.Path = path;
        e.Modified = FileTimeToText({modified, 0});
        return e;
    };
    TExFiles files;
    files.Add(file("\\docs\\a.txt", 1000000000));
    files.Add(file("\\docs\\sub\\b.txt", 1100000000));
    files.Add(file("\\docs\\gone.txt", 1200000000)); // its copy is not there
    files.Add(file("\\x.txt", 1300000000));
    const time_t before = mtime("docs/mine.txt");

    std::vector<std::string> errors = ApplyStoredTimes(files, "\\docs\\", target.string());
    EXPECT_EQ(mtime("docs/a.txt"), 1000000000);
    EXPECT_EQ(mtime("docs/sub/b.txt"), 1100000000);
    EXPECT_EQ(mtime("docs/mine.txt"), before); // not fetched: left as it was
    EXPECT_NE(mtime("x.txt"), 1300000000);     // not in the entry
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("docs/gone.txt\" its stored modification time: No such file"),
              std::string::npos)
        << errors[0];

    EXPECT_TRUE(ApplyStoredTimes(files, "\\x.txt", target.string()).empty());
    EXPECT_EQ(mtime("x.txt"), 1300000000);
    fs::remove_all(target);
}
