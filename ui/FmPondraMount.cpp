// The main window's mount of the open mailbox: made when a mailbox becomes the open one,
// taken away when another opens, it closes or the window ends.
#include "FmPondra.h"

#include "BoxMount.h"
#include "UiText.h"

#include <QTimer>

std::string TFmPondra::MountedAt() const { return mount_ ? mount_->MountPoint() : std::string(); }

bool TFmPondra::InMount(const std::string& path) const {
    // By name even while nothing is mounted: a stale mount's paths hang as well.
    return TBoxMount::Below(mountPoint_, path) || (mount_ && mount_->Holds(path));
}

void TFmPondra::RunMountTask(const std::function<void()>& task) {
    // As the worker's calls and the drop notices: while a question is open the code that
    // asked must find the queue and the table as it left them.
    if (OpenQuestions() > 0) {
        QTimer::singleShot(50, this, [this, task] { RunMountTask(task); });
        return;
    }
    task();
}

void TFmPondra::SyncMount() {
    if (!mount_ || !folders_) return;
    TMailFolder* box = folders_->CurrentFolder;
    if (box && !box->Opened) box = nullptr;
    if (mount_->Box() == box && (box == nullptr || !mount_->MountPoint().empty())) return;
    mount_->Stop();
    if (!box || !mountUnavailable_.empty()) return;
    std::string error;
    if (!mount_->Start(*folders_, *box, mountPoint_, error)) {
        // Said once, with the first drag that needs it; the placeholder route stays.
        mountUnavailable_ = error.empty() ? std::string("the mount failed") : error;
    }
}
