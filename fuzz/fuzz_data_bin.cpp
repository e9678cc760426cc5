// Fuzz target: loading Data.bin, the mailbox list, from a damaged or hostile file. The
// input is the file. Checks:
//   - loading never writes outside the cache: the program folder holds only the list and
//     MailRoot, and MailRoot only one folder per usable alias of a loaded mailbox;
//   - what the properties dialog shows of a loaded mailbox can be filled and checked;
//   - a list that loaded, saved and loaded again, gives the same mailboxes and options.
#include "AppDir.h"
#include "FuzzCheck.h"
#include "FuzzTempDir.h"
#include "MailFolder.h"
#include "MailFolders.h"
#include "MailPropDialog.h"
#include "TextUtil.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string Snapshot(TMailFolders& list) {
    std::string s;
    auto add = [&](const std::string& v) { s += std::to_string(v.size()) + ":" + v + "\n"; };
    const TOptions& o = *list.Options;
    add(std::to_string(o.LoginLastFolder) + std::to_string(o.PasswordRequired) +
        std::to_string(o.ShowTrayIcon) + std::to_string(o.MinimizeOnClose));
    add(o.Password);
    for (int i = 0; i < list.Count(); ++i) {
        const TMailFolder& f = list.Items(i);
        for (const std::string* v : {&f.SmtpServer, &f.Address, &f.PopServer, &f.Account,
                                     &f.Password, &f.Alias})
            add(*v);
        add(std::to_string(f.SmtpPort) + " " + std::to_string(f.SmtpSsl) + " " +
            std::to_string(f.SmtpAuth) + " " + std::to_string(f.PopPort) + " " +
            std::to_string(f.PopSsl) + " " + std::to_string(f.Capacity) + " " +
            std::to_string(f.MaxAttachSize) + " " + FloatToText(f.Created));
    }
    return s;
}

// The program folder after a load: the list files, and in MailRoot the cache folders of
// the loaded mailboxes, nothing else.
void CheckWrites(TMailFolders& list) {
    std::set<std::string> aliases;
    for (int i = 0; i < list.Count(); ++i)
        if (IsUsableCacheName(list.Items(i).Alias)) aliases.insert(list.Items(i).Alias);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(AppDir(), ec)) {
        const std::string name = e.path().filename().string();
        fuzzcheck::Expect(name == "Data.bin" || name == "Again.bin" || name == "MailRoot",
                          "a load wrote a file beside the list");
    }
    for (const auto& e : fs::directory_iterator(list.MailRootDir, ec)) {
        fuzzcheck::Expect(e.is_directory() && !e.is_symlink(), "MailRoot holds a non-folder");
        fuzzcheck::Expect(aliases.count(e.path().filename().string()) == 1,
                          "MailRoot holds a folder that is no loaded mailbox's");
        fuzzcheck::Expect(fs::is_empty(e.path(), ec), "a load filled a cache folder");
    }
}

void ShowProperties(TMailFolders& list) {
    for (int i = 0; i < list.Count(); ++i) {
        TMailPropDialog d;
        FillPropDialog(list.Items(i), d);
        ValidatePropDialog(d);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetAppDir(fuzztemp::Dir());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string file = fuzztemp::WriteFile("Data.bin", data, size);
    const std::string again = fuzztemp::Dir() + "Again.bin";
    std::string first;
    bool loaded = false;
    {
        TMailFolders list(nullptr, nullptr);
        loaded = list.LoadFromFile(file);
        CheckWrites(list);
        ShowProperties(list);
        if (loaded) {
            first = Snapshot(list);
            list.DataFileName = again;
            list.Save();
        }
    }
    if (loaded) {
        TMailFolders list(nullptr, nullptr);
        fuzzcheck::Expect(list.LoadFromFile(again), "a saved list does not load again");
        fuzzcheck::ExpectSame(first, Snapshot(list), "a list saved and loaded again");
    }
    std::error_code ec;
    fs::remove(again, ec);
    return 0;
}
