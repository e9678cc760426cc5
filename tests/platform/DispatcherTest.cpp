// The worker's synchronous calls while a question is open: a shown box runs a nested event
// loop that pumps the dispatcher, and nothing the worker hands over may run inside it.
#include "Dispatcher.h"
#include "Prompt.h"
#include "ScriptedPrompt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {
// A prompt that serves the window's events while it is shown, as a modal box does.
class TPumpingPrompt : public TScriptedPrompt {
public:
    explicit TPumpingPrompt(TPumpedDispatcher& d) : d_(d) {}
    std::function<void()> whileShown;
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        d_.PumpFor(100);
        if (whileShown) whileShown();
        return TScriptedPrompt::MessageBox(text, caption, flags);
    }

private:
    TPumpedDispatcher& d_;
};
} // namespace

TEST(Dispatcher, WorkerCallsWaitWhileAQuestionIsOpen) {
    TPumpedDispatcher d;
    TPumpingPrompt prompt(d);
    TPromptScope scope(prompt);
    std::atomic<bool> ran{false};
    std::thread worker([&] { d.Sync([&] { ran = true; }); });
    // The call is queued (not yet run) before the question opens.
    for (int i = 0; i < 5000 && !d.HasWaiting(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(d.HasWaiting());
    bool ranDuringQuestion = true;
    prompt.whileShown = [&] { ranDuringQuestion = ran; };
    Prompt().MessageBox("Replace?", "Warning", mb::YesNo | mb::IconQuestion);
    EXPECT_FALSE(ranDuringQuestion);
    EXPECT_EQ(OpenQuestions(), 0);
    EXPECT_TRUE(d.PumpUntil([&] { return ran.load(); }, 5000)); // served once answered
    worker.join();
}

TEST(Dispatcher, CallsRunWhenNoQuestionIsOpen) {
    TPumpedDispatcher d;
    std::atomic<int> runs{0};
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) d.Sync([&] { ++runs; });
    });
    EXPECT_TRUE(d.PumpUntil([&] { return runs == 3; }, 5000));
    worker.join();
    // On the owning thread a call runs at once, question or not.
    TScriptedPrompt prompt;
    TPromptScope scope(prompt);
    d.Sync([&] { ++runs; });
    EXPECT_EQ(runs, 4);
}
