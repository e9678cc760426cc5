// An idle worker sleeps: with every queue empty it looks at the queues a few times a second
// instead of a thousand, and an operation queued wakes it at once.
#include "AppDir.h"
#include "Dispatcher.h"
#include "MailFolders.h"
#include "MailThread.h"
#include "ScriptedPrompt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <unistd.h>

namespace {
class TCountingDispatcher : public TPumpedDispatcher {
public:
    std::atomic<int> calls{0};

protected:
    void Posted() override { ++calls; }
};
} // namespace

TEST(IdleWorker, SleepsUntilAnOperationIsQueued) {
    const auto home = std::filesystem::temp_directory_path() /
                      ("tavrel-idle-" + std::to_string(::getpid()));
    SetAppDir(home.string());
    TScriptedPrompt prompt;
    TPromptScope scope(prompt);
    TCountingDispatcher d;
    TEngineConfig config;
    config.RetryDelayUnitMs = 0;
    config.ConnectTimeoutMs = 2000;
    int done = 0;
    {
        TMailFolders folders([](TMailFolder*, int32_t, int32_t) {},
                             [&](TMailFolder*) { ++done; }, TMailThread::Factory(d, config));
        folders.ProcessMessages = [&] { d.ProcessMessages(); };
        d.PumpFor(100); // the first look at the queues
        const int before = d.calls;
        d.PumpFor(1000);
        // The old loop made about 900 calls a second.
        EXPECT_LE(d.calls - before, 12);

        // A measure of a mailbox whose server refuses the connection: queued, it is
        // taken up and finished without waiting for the idle tick.
        auto box = std::make_unique<TMailFolder>(&folders);
        box->Alias = "Idle";
        box->PopServer = "127.0.0.1";
        box->PopPort = 1;
        TMailFolder& m = folders.Append(std::move(box));
        m.Ops.Add(opGetSize, "", -1, "");
        EXPECT_TRUE(d.PumpUntil([&] { return done == 1; }, 10000));
        EXPECT_EQ(m.Ops.Count(), 0);
    }
    std::filesystem::remove_all(home);
}
