#pragma once
#include <functional>
#include <memory>

class TMailFolders;

// The one background worker, as the collection sees it: it is created with the
// collection and asked to stop at shutdown.
class IMailWorker {
public:
    virtual ~IMailWorker() = default;
    virtual void RequestStop() = 0;   // sets its terminate flag
    virtual bool WaitFor(int ms) = 0; // true once the thread has ended
    virtual void ForceEnd() = 0;      // ends it without waiting any longer
};

using TWorkerFactory = std::function<std::unique_ptr<IMailWorker>(TMailFolders&)>;
