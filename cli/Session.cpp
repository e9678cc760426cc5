#include "Session.h"

#include "AppDir.h"
#include "Arguments.h"
#include "EngineConfig.h"
#include "IniFile.h"
#include "MailThread.h"
#include "ProgressPrinter.h"
#include "TerminalPrompt.h"
#include "TextUtil.h"


std::atomic<bool> g_interrupted{false};

namespace {
const char* DoneText(uint8_t kind) {
    switch (kind) {
    case opSend: return "Stored";
    case opDelete: return "Deleted";
    case opDownload: return "Downloaded";
    default: return "Done:";
    }
}
} // namespace

TCliSession::TCliSession(TProgressPrinter& printer, TTerminalPrompt& prompt, bool withWorker)
    : printer_(printer), prompt_(prompt), withWorker_(withWorker) {}

TCliSession::~TCliSession() {
    // The collection wipes the cache folder and stops the worker; only then is the
    // program folder free for the next run. The worker may still finish an operation while
    // it is stopped: its report must not reach this half-destroyed session.
    if (folders_) folders_->OnOperationFinished = {};
    folders_.reset();
    printer_.ClearLive();
}

bool TCliSession::Load() {
    // One user of a program folder at a time (the window or a run of tavrel-cli): each
    // empties the cache folder when it ends, which would pull the files from under the
    // other's downloads.
    if (!lock_.Acquire(AppDir())) {
        printer_.Line("tavrel-cli: " + lock_.Error() +
                      (lock_.Busy() ? "; try again when it has finished" : ""));
        return false;
    }
    TWorkerFactory factory;
    if (withWorker_) factory = TMailThread::Factory(dispatcher_, LoadEngineConfig(IniFile()));
    folders_ = std::make_unique<TMailFolders>(
        [this](TMailFolder*, int32_t pos, int32_t max) { printer_.Progress(pos, max); },
        TMailFolders::TDoneEvent{}, factory);
    folders_->OnStatus = [this](const std::string& s) { printer_.Status(s); };
    folders_->OnOperationFinished = [this](TMailFolder* box, const TExOp& op, bool ok) {
        Finished(box, op, ok);
    };
    folders_->ProcessMessages = [this] { dispatcher_.ProcessMessages(); };
    const std::string data = AppDir() + "Data.bin";
    if (!folders_->LoadFromFile(data)) {
        printer_.Line("tavrel-cli: cannot read the mailbox list " + data +
                      " (damaged, or written by a newer version); it was left as it is");
        return false;
    }
    for (int i = 0; i < folders_->Count(); ++i)
        savedPasswords_.push_back(folders_->Items(i).Password);
    return true;
}

int TCliSession::LoadFailure() const { return lock_.Busy() ? exUsage : exFailed; }

TMailFolder* TCliSession::FindBox(const std::string& alias) {
    for (int i = 0; i < folders_->Count(); ++i)
        if (SameTextAscii(folders_->Items(i).Alias, alias)) return &folders_->Items(i);
    std::string known;
    for (int i = 0; i < folders_->Count(); ++i)
        known += (i ? ", " : "") + folders_->Items(i).Alias;
    printer_.Line("tavrel-cli: unknown mailbox \"" + alias + "\"" +
                  (known.empty() ? std::string("; there is none yet (add-box adds one)")
                                 : "; known: " + known));
    return nullptr;
}

void TCliSession::Finished(TMailFolder* box, const TExOp& op, bool success) {
    std::string what = op.Kind == opRefresh ? (box ? box->Alias : std::string())
                                            : AffectedPath(op);
    if (success) {
        if (op.Kind == opSend || op.Kind == opDelete || op.Kind == opDownload) {
            ++done_;
            printer_.Line(std::string(DoneText(op.Kind)) + " " + what);
        }
        return;
    }
    ++failed_;
    std::string reason = folders_->OperationError;
    if (reason.empty()) reason = "it did not succeed in its attempts";
    printer_.Line("tavrel-cli: failed: " + OperationText(op, box ? box->Alias : std::string()) +
                  ": " + SanitizeForTerminal(reason));
}

bool TCliSession::RunUntilIdle() {
    dispatcher_.PumpUntil(
        [this] {
            if (g_interrupted) return true;
            for (int i = 0; i < folders_->Count(); ++i) {
                TMailFolder& m = folders_->Items(i);
                if (m.Ops.Count() > 0 || m.PendingDrags->Count() > 0) return false;
            }
            return true;
        },
        -1);
    printer_.ClearLive();
    KeepNewPasswords();
    return !g_interrupted;
}

void TCliSession::KeepNewPasswords() {
    std::vector<std::string> changed;
    for (int i = 0; i < folders_->Count() && static_cast<size_t>(i) < savedPasswords_.size(); ++i)
        if (folders_->Items(i).Password != savedPasswords_[static_cast<size_t>(i)])
            changed.push_back(folders_->Items(i).Alias);
    if (changed.empty()) return;
    std::string names;
    for (const auto& alias : changed) names += (names.empty() ? "\"" : ", \"") + alias + "\"";
    try {
        folders_->Save();
    } catch (const std::exception& e) {
        // Counted as a failure: the next run would ask for the password again.
        ++failed_;
        printer_.Line("tavrel-cli: failed: keep the new password of " + names + ": " + e.what());
        return;
    }
    for (int i = 0; i < folders_->Count() && static_cast<size_t>(i) < savedPasswords_.size(); ++i)
        savedPasswords_[static_cast<size_t>(i)] = folders_->Items(i).Password;
    printer_.Line("Saved the new password of mailbox " + names);
}

bool TCliSession::OpenBox(TMailFolder& box) {
    box.QueueRefresh();
    if (!RunUntilIdle()) return false;
    if (!box.Opened) {
        printer_.Line("tavrel-cli: cannot open mailbox \"" + box.Alias + "\"");
        return false;
    }
    return true;
}

size_t TCliSession::ErrorBoxes() const { return prompt_.Errors().size(); }

int TCliSession::Status(size_t inputErrorBoxes) const {
    if (g_interrupted) return exInterrupted;
    if (failed_ > 0 || ErrorBoxes() > inputErrorBoxes) return exFailed;
    return inputErrorBoxes > 0 ? exUsage : exOk;
}

int TCliSession::Finish(size_t inputErrorBoxes) {
    RunUntilIdle();
    return Status(inputErrorBoxes);
}

bool NormalizeMailboxPath(const std::string& arg, std::string& path) {
    std::string p = arg;
    for (auto& c : p)
        if (c == '/') c = '\\';
    path = "\\";
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = p.find('\\', start);
        if (end == std::string::npos) end = p.size();
        std::string name = p.substr(start, end - start);
        start = end + 1;
        if (name.empty()) continue; // "a//b", a leading or trailing separator
        if (!IsStorableName(name)) return false;
        if (path.size() > 1) path += '\\';
        path += name;
    }
    return true;
}

bool FindEntry(TMailFolder& box, const std::string& normalized, TEntryRef& ref) {
    ref = TEntryRef{};
    if (normalized == "\\") {
        ref.path = "\\";
        ref.isRoot = ref.isFolder = true;
        return true;
    }
    if (int i = box.Files.IndexOf(normalized + "\\"); i >= 0) {
        ref.path = box.Files.Items(i).Path;
        ref.isFolder = true;
        return true;
    }
    if (int i = box.Files.IndexOf(normalized); i >= 0 && !box.Files.Items(i).IsFolder) {
        ref.path = box.Files.Items(i).Path;
        return true;
    }
    return false;
}
