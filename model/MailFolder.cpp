#include "MailFolder.h"

#include "MailFolders.h"
#include "Stream.h"

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

// An alias is one folder name inside MailRoot: anything that would leave it, or that a
// folder name cannot hold, gets no cache folder.
bool IsUsableCacheName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (c == '/' || c < 0x20) return false;
    return true;
}

TMailFolder::TMailFolder(TMailFolders* owner)
    : Owner(owner), Created(NowLocal()),
      PendingDrags(std::make_unique<TPendingDragList>(this)) {}

TMailFolder::~TMailFolder() {
    // Never the whole MailRoot or anything outside it, whatever the alias says.
    if (Owner && IsUsableCacheName(Alias)) TMailFolders::DeleteDirTree(CacheDir());
}

bool TMailFolder::LoadFromStream(TStreamReader& in) {
    try {
        SmtpServer = in.ReadString();
        Address = in.ReadString();
        SmtpPort = in.ReadInteger();
        SmtpSsl = in.ReadFlag() != 0;
        SmtpAuth = in.ReadFlag() != 0;
        PopServer = in.ReadString();
        PopPort = in.ReadInteger();
        PopSsl = in.ReadFlag() != 0;
        Account = in.ReadString();
        Password = in.ReadString();
        Alias = in.ReadString();
        Capacity = in.ReadCardinal();
        MaxAttachSize = in.ReadCardinal();
        Created = in.ReadFloat();
    } catch (const std::exception&) {
        return false;
    }
    EnsureCacheDir();
    return true;
}

void TMailFolder::SaveToStream(TStreamWriter& out) const {
    out.WriteString(SmtpServer);
    out.WriteString(Address);
    out.WriteInteger(SmtpPort);
    out.WriteFlag(SmtpSsl);
    out.WriteFlag(SmtpAuth);
    out.WriteString(PopServer);
    out.WriteInteger(PopPort);
    out.WriteFlag(PopSsl);
    out.WriteString(Account);
    out.WriteString(Password);
    out.WriteString(Alias);
    out.WriteInteger(Capacity);
    out.WriteInteger(MaxAttachSize);
    out.WriteFloat(Created);
}

std::string TMailFolder::CacheDir() const { return Owner->MailRootDir + Alias; }


bool TMailFolder::EnsureCacheDir() {
    if (!Owner) return false;
    std::error_code ec;
    TMailFolders::MakeHiddenDir(Owner->MailRootDir);
    if (!IsUsableCacheName(Alias)) return false;
    std::string dir = CacheDir();
    bool ok = true;
    if (!fs::is_directory(dir, ec)) ok = fs::create_directory(dir, ec) && !ec;
    ::chmod(dir.c_str(), 0700);
    return ok;
}

bool TMailFolder::Open() {
    if (!Opened) {
        QueueRefresh();
        return false;
    }
    CurrentPath.assign(1, '\\');
    if (Owner) Owner->CurrentFolder = this;
    return true;
}

void TMailFolder::QueueRefresh() {
    if (Ops.Count() > 0 && Ops.Get(Ops.Count() - 1).Kind == opRefresh) return;
    Ops.Add(opRefresh, "", -1, "");
}

void TMailFolder::UpdateOpStates() {
    for (int i = Ops.Count() - 1; i >= 0; --i) {
        TExOp op = Ops.Get(i);
        std::string path = AffectedPath(op);
        if (path.empty()) continue;
        int idx = Files.IndexOf(path);
        if (idx < 0) continue;
        uint8_t state = fsNone;
        switch (op.Kind) {
        case opSend: state = fsSending; break;
        case opDelete: state = fsDeleting; break;
        case opDownload: state = fsDownloading; break;
        default: state = fsNone; break;
        }
        Files.Items(idx).State = state;
    }
}
