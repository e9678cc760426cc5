#include "MailFolders.h"

#include "AppDir.h"
#include "Stream.h"
#include "Wait.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
const char* const Magic = "{DC9B31A2-A7CE-46A1-B472-B83BEA25F7B2}";
constexpr int DataVersion = 10;

std::string ReadWholeFile(const std::string& name, bool& ok) {
    std::ifstream in(name, std::ios::binary);
    ok = static_cast<bool>(in);
    if (!ok) return {};
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ok = !in.bad();
    return data;
}

void WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error(std::string("Cannot write: ") + strerror(errno));
        done += static_cast<size_t>(n);
    }
}
} // namespace

TMailFolders::TMailFolders(TProgressEvent onProgress, TDoneEvent onOperationDone,
                           const TWorkerFactory& workerFactory)
    : OnOperationDone(std::move(onOperationDone)), OnProgress(std::move(onProgress)) {
    MailRootDir = AppDir() + "MailRoot/";
    MakeHiddenDir(MailRootDir);
    Options = std::make_unique<TOptions>();
    if (workerFactory) worker_ = workerFactory(*this);
}

TMailFolders::~TMailFolders() {
    DeleteDirTree(MailRootDir);
    Options.reset();
    StopWorker();
    CurrentFolder = nullptr;
    Clear();
}

void TMailFolders::StopWorker() {
    if (!worker_) return;
    worker_->RequestStop();
    auto start = std::chrono::steady_clock::now();
    while (!worker_->WaitFor(1)) {
        if (ProcessMessages) ProcessMessages();
        WaitMs(1);
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(1000)) {
            worker_->ForceEnd();
            break;
        }
    }
    worker_.reset();
}

int TMailFolders::IndexOf(const TMailFolder* folder) const {
    for (size_t i = 0; i < list_.size(); ++i)
        if (list_[i].get() == folder) return static_cast<int>(i);
    return -1;
}

bool TMailFolders::LoadFromFile(const std::string& fileName) {
    DataFileName = fileName;
    std::error_code ec;
    if (!fs::exists(fileName, ec)) {
        try {
            Save();
        } catch (const std::exception&) {
            return false; // nothing to lose: there was no list yet
        }
        return true;
    }
    bool ok = false;
    std::string data = ReadWholeFile(fileName, ok);
    auto fail = [&] {
        Clear();
        keepBackupOnSave_ = true;
        return false;
    };
    if (!ok) return fail();
    TStreamReader in(std::move(data));
    try {
        if (in.ReadString() != Magic) return fail();
        if (in.ReadInteger() > DataVersion) return fail();
        Options->LoadFromStream(in); // a damaged block does not stop the load
        in.ReadString();             // filler
        int32_t count = in.ReadInteger();
        for (int32_t i = 0; i < count; ++i) {
            auto folder = std::make_unique<TMailFolder>(this);
            if (!folder->LoadFromStream(in)) {
                // The half-read mailbox must not delete the cache of a good one.
                folder->Alias.clear();
                return fail();
            }
            list_.push_back(std::move(folder));
        }
    } catch (const std::exception&) {
        return fail();
    }
    return true;
}

void TMailFolders::Save() {
    TStreamWriter out;
    out.WriteString(Magic);
    out.WriteInteger(DataVersion);
    Options->SaveToStream(out);
    // Filler: 10 to 34 random characters of codes 0 to 254, new at every save.
    std::mt19937 rng(static_cast<unsigned>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    int len = std::uniform_int_distribution<int>(10, 34)(rng);
    std::string filler;
    std::uniform_int_distribution<int> code(0, 254);
    for (int i = 0; i < len; ++i) filler += static_cast<char>(code(rng));
    out.WriteString(filler);
    out.WriteInteger(Count());
    for (auto& f : list_) f->SaveToStream(out);

    if (DataFileName.empty()) throw std::runtime_error("No file name for the mailbox list");
    // A new file beside the old one, renamed over it only once it is complete.
    std::string tmp = DataFileName + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("Cannot create file \"" + DataFileName + "\". " + strerror(errno));
    try {
        WriteAll(fd, out.Data());
        if (::fsync(fd) != 0) throw std::runtime_error(strerror(errno));
    } catch (const std::exception& e) {
        ::close(fd);
        ::unlink(tmp.c_str());
        throw std::runtime_error("Cannot write file \"" + DataFileName + "\". " + e.what());
    }
    ::close(fd);
    ::chmod(tmp.c_str(), 0600);
    std::error_code ec;
    if (keepBackupOnSave_ && fs::exists(DataFileName, ec)) {
        // The list that could not be read (perhaps from a newer version) is kept.
        fs::copy_file(DataFileName, DataFileName + ".bak", fs::copy_options::overwrite_existing,
                      ec);
        if (ec) {
            ::unlink(tmp.c_str());
            throw std::runtime_error("Cannot keep a copy of \"" + DataFileName +
                                     "\": " + ec.message());
        }
    }
    if (::rename(tmp.c_str(), DataFileName.c_str()) != 0) {
        std::string why = strerror(errno);
        ::unlink(tmp.c_str());
        throw std::runtime_error("Cannot write file \"" + DataFileName + "\". " + why);
    }
    keepBackupOnSave_ = false;
}

bool TMailFolders::AddFolder() {
    auto folder = std::make_unique<TMailFolder>(this);
    if (!folder->EditProperties()) return false;
    list_.push_back(std::move(folder));
    Save();
    return true;
}

TMailFolder& TMailFolders::Append(std::unique_ptr<TMailFolder> folder) {
    folder->Owner = this;
    list_.push_back(std::move(folder));
    return *list_.back();
}

void TMailFolders::DeleteFolder(int index) {
    if (index < 0 || index >= Count()) return;
    auto folder = std::move(list_[static_cast<size_t>(index)]);
    list_.erase(list_.begin() + index);
    try {
        Save();
    } catch (...) {
        list_.insert(list_.begin() + index, std::move(folder)); // nothing is lost
        throw;
    }
    if (CurrentFolder == folder.get()) CurrentFolder = nullptr;
}

void TMailFolders::Clear() {
    if (CurrentFolder && IndexOf(CurrentFolder) >= 0) CurrentFolder = nullptr;
    while (!list_.empty()) list_.pop_back();
}

bool TMailFolders::EditOptions() {
    if (!Options->EditOptions()) return false;
    Save();
    return true;
}

bool TMailFolders::MakeHiddenDir(const std::string& dir) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) fs::create_directory(dir, ec);
    ::chmod(dir.c_str(), 0700);
    return fs::is_directory(dir, ec);
}

bool TMailFolders::DeleteDirTree(const std::string& dir) {
    std::error_code ec;
    if (dir.empty()) return false;
    fs::path p(dir);
    if (!fs::exists(fs::symlink_status(p, ec))) return true;
    // Folders without write permission cannot be emptied: open them up first. Links are
    // removed, never followed.
    if (fs::is_directory(fs::symlink_status(p, ec))) {
        ::chmod(p.c_str(), 0700);
        for (auto it = fs::recursive_directory_iterator(p, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0700);
        }
    }
    fs::remove_all(p, ec);
    return !fs::exists(fs::symlink_status(p, ec));
}
