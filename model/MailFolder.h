#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "ChecksumCache.h"
#include "DateTime.h"
#include "ExFile.h"
#include "ExOp.h"
#include "PendingDrag.h"

#include <memory>

class TMailFolders;
class IFileView;
class IAddressBox;
class TStreamReader;
class TStreamWriter;

// An alias names one folder inside MailRoot: empty, ".", "..", a "/" or a control
// character would leave it (or name all of it), so such a mailbox gets no cache folder.
bool IsUsableCacheName(const std::string& alias);
// A file or folder name that can be stored: not empty, not "." or "..", and none of
// < > : " | ? * \ / or a control character.
bool IsStorableName(const std::string& name);

// One mailbox used as a disk: the account settings, the capacity, the alias that also
// names its cache folder, and while the program runs its file table, its queue and the
// navigation state of the file view.
class TMailFolder {
public:
    explicit TMailFolder(TMailFolders* owner);
    ~TMailFolder();
    TMailFolder(const TMailFolder&) = delete;
    TMailFolder& operator=(const TMailFolder&) = delete;

    // Stored settings (the record of Data.bin).
    std::string Address = "yourname@example.com";
    std::string SmtpServer = "smtp.example.com";
    int32_t SmtpPort = 25;
    bool SmtpSsl = false;
    bool SmtpAuth = true;
    std::string PopServer = "pop.example.com";
    int32_t PopPort = 110;
    bool PopSsl = false;
    std::string Account = "Your Name";
    std::string Password;
    std::string Alias = "Mail Folder Name";
    uint32_t Capacity = 0x40000000u;
    uint32_t MaxAttachSize = 0xA00000u;

    // Run-time state.
    TMailFolders* Owner;
    uint32_t UsedSize = 0;
    TExOpList Ops;
    TExFiles Files;
    std::string CurrentPath = "\\";
    TDateTime Created; // stored too
    bool Opened = false;
    std::vector<std::string> SelectedNames;
    std::vector<std::string> BackHistory;
    std::vector<std::string> ForwardHistory;
    std::unique_ptr<TPendingDragList> PendingDrags;

    // Reads the 14 items of a record; on success makes sure the cache folder exists.
    bool LoadFromStream(TStreamReader& in);
    void SaveToStream(TStreamWriter& out) const;

    // The local cache folder of this mailbox: MailRootDir + Alias (no trailing slash).
    std::string CacheDir() const;
    bool EnsureCacheDir();
    bool Open();
    void QueueRefresh();
    void UpdateOpStates();
    // The properties dialog of the mailbox; true when confirmed (settings saved).
    bool EditProperties();

    // Listing and navigation of the file view.
    std::string LocalDir() const;
    // The cache path of a mailbox path; empty when the path could leave the cache folder.
    std::string CachePathOf(const std::string& mailboxPath) const;
    void ListFolder(IFileView* view, IAddressBox* address, const std::string& path);
    void EnterFolder(const std::string& name);
    void GoUp();
    bool GoBack(IFileView* view, IAddressBox* address);
    bool GoForward(IFileView* view, IAddressBox* address);
    bool IsLocal(const std::string& mailboxPath);
    static void ForceLocalDir(const std::string& dir);

    // File operations: they change the table at once and queue the work for the worker.
    void AddLocal(const std::string& folder, const std::string& localPath, bool confirm);
    bool NewFolder(const std::string& parent, const std::string& name);
    void DeleteItem(const std::string& parent, const std::string& name, bool dropWhenDeleted);
    void DownloadItem(const std::string& parent, const std::string& name, int32_t ticket);
    static bool ReadLocalFileInfo(TExFile& record, const std::string& localPath);

    TChecksumCache Checksums; // of cached files, for the Location column

private:
    std::string FolderArg(const std::string& folder) const;
    bool IsLocalFile(const std::string& mailboxPath, const TExFile* entry);
    bool Step(std::vector<std::string>& from, std::vector<std::string>& to, IFileView* view,
              IAddressBox* address);
};

struct TMailPropDialog;
// Copies the settings and statistics into the properties dialog, and the edited settings
// back (the dialog has checked the numbers before it closed with OK).
void FillPropDialog(const TMailFolder& folder, TMailPropDialog& dialog);
void ReadPropDialog(TMailFolder& folder, const TMailPropDialog& dialog);
