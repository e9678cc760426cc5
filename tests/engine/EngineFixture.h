#pragma once
// A collection with a real worker, a pumped window thread, scripted prompts, and mailboxes
// pointing at the local test mail servers.
#include "AppDir.h"
#include "FolderView.h"
#include "MailFolders.h"
#include "MailServers.h"
#include "MailThread.h"
#include "ScriptedPrompt.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

// How a test mailbox reaches the servers.
struct Account {
    bool tls = false;
    bool imap = false;
    int second = 0; // 1: the second account (password with a blank)
    uint32_t maxAttach = 64 * 1024;
};

class EngineTest : public ::testing::Test {
public:
    void SetUp() override {
        servers_ = LoadTestServers();
        if (!servers_) GTEST_SKIP() << "TAVREL_MAILSERVERS is not set: start scripts/mailservers.sh";
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        home_ = std::filesystem::temp_directory_path() /
                (std::string("tavrel-engine-") + info->name() + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(home_);
        SetAppDir(home_.string());
        local_ = home_ / "local";
        std::filesystem::create_directories(local_);
        // Mails of the test before that are still on their way would land in this one.
        ASSERT_TRUE(WaitForDeliveries(*servers_, 30000));
        ClearMailbox(servers_->maildir1);
        ClearMailbox(servers_->maildir2);
        SetPrompt(&prompt_);
        config_.RetryDelayUnitMs = 1;
        config_.CreateFileRetryMs = 1;
        config_.CaFile = servers_->caFile;
        config_.ImapDomain = "TAVREL.TEST";
        config_.ImapHost = servers_->host;
        config_.ImapPort = static_cast<uint16_t>(servers_->imapPort);
        config_.ReadTimeoutMs = 20000;
        config_.ConnectTimeoutMs = 5000;
        config_.OnRetryWait = [this](int ms) { waits_.push_back(ms); };
    }
    void TearDown() override {
        Stop();
        SetPrompt(nullptr);
        if (!home_.empty()) std::filesystem::remove_all(home_);
    }

    // Creates the collection and starts its worker (after the test set its config).
    TMailFolders& Start() {
        if (folders_) return *folders_;
        folders_ = std::make_unique<TMailFolders>(
            [this](TMailFolder* m, int32_t pos, int32_t max) {
                if (m) progress_.push_back({pos, max});
            },
            [this](TMailFolder* m) { done_.push_back(m); },
            TMailThread::Factory(dispatcher_, config_));
        folders_->OnStatus = [this](const std::string& s) { status_.push_back(s); };
        folders_->LoadFromFile((home_ / "Data.bin").string());
        folders_->ProcessMessages = [this] { dispatcher_.ProcessMessages(); };
        return *folders_;
    }
    void Stop() { folders_.reset(); }

    TMailFolder& AddBox(const std::string& alias, Account a = {}) {
        TMailFolders& f = Start();
        auto box = std::make_unique<TMailFolder>(&f);
        const auto& acc = a.second ? servers_->acc2 : servers_->acc1;
        box->Alias = alias;
        box->Address = acc.address;
        box->Account = a.imap ? acc.address : acc.user; // the address selects IMAP4
        box->Password = acc.pass;
        box->SmtpServer = box->PopServer = servers_->host;
        box->SmtpPort = a.tls ? servers_->smtpsPort : servers_->smtpPort;
        box->PopPort = a.tls ? servers_->pop3sPort : servers_->pop3Port;
        box->SmtpSsl = box->PopSsl = a.tls;
        box->MaxAttachSize = a.maxAttach;
        TMailFolder& b = f.Append(std::move(box));
        b.EnsureCacheDir();
        return b;
    }

    // Pumps the window's thread until every queue is empty.
    bool RunUntilIdle(int timeoutMs = 120000) {
        return dispatcher_.PumpUntil(
            [this] {
                for (int i = 0; i < folders_->Count(); ++i)
                    if (folders_->Items(i).Ops.Count() > 0) return false;
                return true;
            },
            timeoutMs);
    }

    std::string MakeLocal(const std::string& rel, const std::string& content) {
        std::filesystem::path p = local_ / rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }
    static std::string Random(size_t n, unsigned seed) {
        std::mt19937 rng(seed);
        std::string s(n, '\0');
        for (auto& c : s) c = static_cast<char>(rng());
        return s;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    int Shown(const std::string& caption) const {
        int n = 0;
        for (auto& s : prompt_.shown) n += s.caption == caption;
        return n;
    }

    const TestServers* servers_ = nullptr;
    std::filesystem::path home_, local_;
    TPumpedDispatcher dispatcher_;
    TScriptedPrompt prompt_;
    TEngineConfig config_;
    std::unique_ptr<TMailFolders> folders_;
    std::vector<std::string> status_;
    std::vector<std::pair<int32_t, int32_t>> progress_;
    std::vector<TMailFolder*> done_;
    std::vector<int> waits_;
};
