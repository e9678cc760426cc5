// Access to the local test mail servers started by scripts/mailservers.sh.
//
// The script writes DIR/servers.env; CTest hands its path to every test declared with
// tavrel_test(... MAILSERVERS) in the variable TAVREL_MAILSERVERS. To run one test binary
// by hand:
//     bash scripts/mailservers.sh start /tmp/ms
//     TAVREL_MAILSERVERS=/tmp/ms/servers.env ./build/tests/.../some_tests
//     bash scripts/mailservers.sh stop /tmp/ms
//
// In a test:
//     const TestServers* s = LoadTestServers();
//     if (!s) GTEST_SKIP() << TestServersProblem();
//
// Delivery is asynchronous: after sending, wait with WaitForMails / WaitForMailContaining.
// The servers (and their two accounts) are shared by every test that runs at the same time.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct TestServers {
    std::string host, caFile, maildir1, maildir2;
    int smtpPort = 0, smtpsPort = 0, pop3Port = 0, pop3sPort = 0, imapPort = 0, imapsPort = 0;
    struct Account {
        std::string user, pass, address;
    } acc1, acc2;
    // Also in the file, for tests that need them.
    std::string domain;
    std::string serverCert, serverKey;         // signed by caFile
    std::string untrustedCert, untrustedKey;   // self-signed, for localhost / 127.0.0.1
    std::string postfixQueue;                  // empty when the file does not name it
};

// The servers named by $TAVREL_MAILSERVERS, read once. nullptr when the variable is unset
// or the file cannot be read or lacks a key; TestServersProblem() then says why.
const TestServers* LoadTestServers();
const std::string& TestServersProblem();

// Reads one env file (the format is described at the top of scripts/mailservers.sh).
// Returns false and sets `why` when the file is unreadable or a needed key is missing.
bool ReadTestServersFile(const std::string& path, TestServers& out, std::string& why);

// Mailbox helpers working on a Maildir directly (the one POP3 and IMAP4 read).
// ClearMailbox deletes the messages in new/ and cur/ (Dovecot notices at its next sync;
// do it while no session of that user is open).
void ClearMailbox(const std::string& maildir);
int CountMails(const std::string& maildir);
std::vector<std::string> MailFiles(const std::string& maildir);
// Waits until Postfix has delivered every mail it accepted (its queue is empty), so that
// a test's late deliveries never land in the next test's mailbox. Without a readable
// queue folder: until the Maildirs have not changed for 300 ms. False after timeoutMs.
bool WaitForDeliveries(const TestServers& servers, int timeoutMs);
// Polls until at least `count` mails are there; false after timeoutMs.
bool WaitForMails(const std::string& maildir, int count, int timeoutMs);
// Polls until a mail whose text contains `needle` is there; returns its file path.
std::optional<std::string> WaitForMailContaining(const std::string& maildir,
                                                 const std::string& needle, int timeoutMs);

// A small blocking TCP line client for dialogues with the servers (IPv4, plain text).
class TestLineSocket {
public:
    TestLineSocket() = default;
    ~TestLineSocket();
    TestLineSocket(const TestLineSocket&) = delete;
    TestLineSocket& operator=(const TestLineSocket&) = delete;

    bool Connect(const std::string& host, int port, int timeoutMs = 5000);
    bool Send(const std::string& data);
    bool SendLine(const std::string& line);   // appends CRLF
    // One line without its CRLF; nullopt on close, error or time-out.
    std::optional<std::string> ReadLine(int timeoutMs = 10000);
    void Close();
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
    std::string buf_;
};
