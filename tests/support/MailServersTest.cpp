// Checks that the local test mail servers behave as the client tests expect: SMTP with
// AUTH LOGIN on the plain and the implicit TLS port delivering into the Maildirs, POP3 and
// IMAP4 logins (the password with a blank), certificates that verify against the test CA.
#include "support/MailServers.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string B64(const std::string& s) {
    std::string out(4 * ((s.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(s.data()),
                            static_cast<int>(s.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string Unique(const char* what) {
    static std::atomic<int> n{0};
    return std::string(what) + "-" + std::to_string(::getpid()) + "-" + std::to_string(++n) +
           "-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

// A line dialogue over plain TCP or implicit TLS (verified against a CA file).
class Dialog {
public:
    ~Dialog() {
        if (ssl_) {
            SSL_shutdown(ssl_);
            SSL_free(ssl_);
        }
        if (ctx_)
            SSL_CTX_free(ctx_);
    }

    bool Open(const std::string& host, int port) { return sock_.Connect(host, port); }

    // TLS handshake on the open connection. caFile empty: the default trust store.
    // Verifies the certificate chain and that it names verifyName (a host name or an IP).
    bool StartTls(const std::string& caFile, const std::string& verifyName) {
        timeval tv{10, 0};
        setsockopt(sock_.Fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ctx_ = SSL_CTX_new(TLS_client_method());
        if (!ctx_)
            return false;
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
        if (caFile.empty())
            SSL_CTX_set_default_verify_paths(ctx_);
        else if (SSL_CTX_load_verify_locations(ctx_, caFile.c_str(), nullptr) != 1)
            return false;
        ssl_ = SSL_new(ctx_);
        SSL_set_fd(ssl_, sock_.Fd());
        in_addr ip{};
        if (inet_pton(AF_INET, verifyName.c_str(), &ip) == 1) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), verifyName.c_str());
        } else {
            SSL_set1_host(ssl_, verifyName.c_str());
            SSL_set_tlsext_host_name(ssl_, verifyName.c_str());
        }
        if (SSL_connect(ssl_) != 1) {
            verifyError_ = X509_verify_cert_error_string(SSL_get_verify_result(ssl_));
            ERR_clear_error();
            return false;
        }
        return SSL_get_verify_result(ssl_) == X509_V_OK;
    }

    const std::string& VerifyError() const { return verifyError_; }

    bool Send(const std::string& data) {
        if (!ssl_)
            return sock_.Send(data);
        return SSL_write(ssl_, data.data(), static_cast<int>(data.size())) ==
               static_cast<int>(data.size());
    }
    bool SendLine(const std::string& line) { return Send(line + "\r\n"); }

    std::string ReadLine() {
        if (!ssl_)
            return sock_.ReadLine().value_or("<no reply>");
        for (;;) {
            auto nl = buf_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                return line;
            }
            char chunk[4096];
            int n = SSL_read(ssl_, chunk, sizeof chunk);
            if (n <= 0)
                return "<no reply>";
            buf_.append(chunk, static_cast<size_t>(n));
        }
    }

    // SMTP: the lines of one (possibly multi-line) reply; the last one has a blank after
    // the code.
    std::vector<std::string> SmtpReply() {
        std::vector<std::string> lines;
        for (;;) {
            lines.push_back(ReadLine());
            const std::string& l = lines.back();
            if (l.size() < 4 || l[3] != '-')
                return lines;
        }
    }
    std::string SmtpCommand(const std::string& cmd) {
        SendLine(cmd);
        return SmtpReply().back();
    }

private:
    TestLineSocket sock_;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    std::string buf_, verifyError_;
};

class MailServers : public ::testing::Test {
protected:
    void SetUp() override {
        s = LoadTestServers();
        if (!s)
            GTEST_SKIP() << TestServersProblem();
    }
    // Connects to a port, with implicit TLS verified against the test CA when tls is set.
    void Open(Dialog& d, int plainPort, int tlsPort, bool tls) {
        ASSERT_TRUE(d.Open(s->host, tls ? tlsPort : plainPort));
        if (tls) {
            ASSERT_TRUE(d.StartTls(s->caFile, s->host)) << d.VerifyError();
        }
    }
    const TestServers* s = nullptr;
};

// ---- SMTP ----

TEST_F(MailServers, SmtpGreetsAndOffersAuthLoginOnBothPorts) {
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "implicit TLS" : "plain");
        Dialog d;
        Open(d, s->smtpPort, s->smtpsPort, tls);
        EXPECT_EQ(d.SmtpReply().back().substr(0, 4), "220 ");
        d.SendLine("EHLO client.test");
        std::vector<std::string> ehlo = d.SmtpReply();
        ASSERT_EQ(ehlo.back().substr(0, 3), "250");
        bool authLogin = false;
        for (const std::string& l : ehlo)
            if (l.rfind("250-AUTH ", 0) == 0 || l.rfind("250 AUTH ", 0) == 0)
                authLogin = l.find(" LOGIN") != std::string::npos;
        EXPECT_TRUE(authLogin) << "EHLO does not offer AUTH LOGIN";
        // Large test mails must pass (the usual default limit is about 10 MB).
        EXPECT_EQ(d.SmtpCommand("MAIL FROM:<" + s->acc1.address + "> SIZE=200000000").substr(0, 3),
                  "250");
        EXPECT_EQ(d.SmtpCommand("QUIT").substr(0, 3), "221");
    }
}

TEST_F(MailServers, SmtpDeliversToTheAccountsMaildir) {
    struct Case {
        const char* name;
        bool tls;
        const TestServers::Account* auth;   // nullptr: no AUTH
        const TestServers::Account* to;
        std::string maildir;
    };
    const Case cases[] = {
        {"plain, AUTH LOGIN", false, &s->acc1, &s->acc1, s->maildir1},
        {"TLS, AUTH LOGIN, password with a blank", true, &s->acc2, &s->acc2, s->maildir2},
        {"plain, no AUTH", false, nullptr, &s->acc1, s->maildir1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string subject = Unique("smtp");
        Dialog d;
        Open(d, s->smtpPort, s->smtpsPort, c.tls);
        ASSERT_EQ(d.SmtpReply().back().substr(0, 3), "220");
        ASSERT_EQ(d.SmtpCommand("EHLO client.test").substr(0, 3), "250");
        if (c.auth) {
            ASSERT_EQ(d.SmtpCommand("AUTH LOGIN").substr(0, 3), "334");
            ASSERT_EQ(d.SmtpCommand(B64(c.auth->user)).substr(0, 3), "334");
            ASSERT_EQ(d.SmtpCommand(B64(c.auth->pass)).substr(0, 3), "235");
        }
        std::string from = c.auth ? c.auth->address : c.to->address;
        ASSERT_EQ(d.SmtpCommand("MAIL FROM:<" + from + ">").substr(0, 3), "250");
        ASSERT_EQ(d.SmtpCommand("RCPT TO:<" + c.to->address + ">").substr(0, 3), "250");
        ASSERT_EQ(d.SmtpCommand("DATA").substr(0, 3), "354");
        d.Send("From: <" + from + ">\r\nTo: <" + c.to->address + ">\r\nSubject: " + subject +
               "\r\n\r\nbody line\r\n..dot-stuffed line\r\n");
        ASSERT_EQ(d.SmtpCommand(".").substr(0, 3), "250");
        d.SmtpCommand("QUIT");

        auto file = WaitForMailContaining(c.maildir, "Subject: " + subject, 15000);
        ASSERT_TRUE(file) << "mail did not arrive in " << c.maildir;
        std::ifstream in(*file, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        EXPECT_NE(text.find("\n.dot-stuffed line"), std::string::npos) << text;
    }
}

TEST_F(MailServers, SmtpRefusesWrongPasswordUnknownAndForeignRecipients) {
    Dialog d;
    Open(d, s->smtpPort, s->smtpsPort, false);
    d.SmtpReply();
    d.SmtpCommand("EHLO client.test");
    d.SmtpCommand("AUTH LOGIN");
    d.SmtpCommand(B64(s->acc1.user));
    EXPECT_EQ(d.SmtpCommand(B64(s->acc1.pass + "x")).substr(0, 3), "535");
    ASSERT_EQ(d.SmtpCommand("MAIL FROM:<" + s->acc1.address + ">").substr(0, 3), "250");
    EXPECT_EQ(d.SmtpCommand("RCPT TO:<nobody@" + s->domain + ">")[0], '5');
    EXPECT_EQ(d.SmtpCommand("RCPT TO:<somebody@example.com>")[0], '5');
    d.SmtpCommand("QUIT");
}

// ---- POP3 and IMAP4 ----

TEST_F(MailServers, Pop3LoginWithBlankPassword) {
    struct Case {
        bool tls;
        bool byAddress;
    };
    for (Case c : {Case{false, false}, Case{true, true}}) {
        SCOPED_TRACE(std::string(c.tls ? "TLS" : "plain") + (c.byAddress ? ", address" : ""));
        Dialog d;
        Open(d, s->pop3Port, s->pop3sPort, c.tls);
        ASSERT_EQ(d.ReadLine().substr(0, 3), "+OK");
        d.SendLine("CAPA");
        ASSERT_EQ(d.ReadLine().substr(0, 3), "+OK");
        std::vector<std::string> capa;
        for (std::string l = d.ReadLine(); l != "." && l != "<no reply>"; l = d.ReadLine())
            capa.push_back(l);
        for (const char* want : {"UIDL", "TOP", "PIPELINING"})
            EXPECT_NE(std::find(capa.begin(), capa.end(), want), capa.end()) << want;

        d.SendLine("USER " + (c.byAddress ? s->acc2.address : s->acc2.user));
        ASSERT_EQ(d.ReadLine().substr(0, 3), "+OK");
        d.SendLine("PASS " + s->acc2.pass);
        EXPECT_EQ(d.ReadLine().substr(0, 3), "+OK");
        d.SendLine("STAT");
        EXPECT_EQ(d.ReadLine().substr(0, 3), "+OK");
        d.SendLine("QUIT");
        EXPECT_EQ(d.ReadLine().substr(0, 3), "+OK");
    }
    Dialog bad;
    Open(bad, s->pop3Port, s->pop3sPort, false);
    bad.ReadLine();
    bad.SendLine("USER " + s->acc2.user);
    bad.ReadLine();
    bad.SendLine("PASS secret");   // the part before the blank only
    EXPECT_EQ(bad.ReadLine().substr(0, 4), "-ERR");
}

TEST_F(MailServers, ImapLogin) {
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        Dialog d;
        Open(d, s->imapPort, s->imapsPort, tls);
        ASSERT_EQ(d.ReadLine().substr(0, 4), "* OK");
        d.SendLine("a1 LOGIN " + s->acc1.user + " \"" + s->acc1.pass + "\"");
        std::string l;
        do l = d.ReadLine(); while (l[0] == '*');
        EXPECT_EQ(l.substr(0, 5), "a1 OK");
        d.SendLine("a2 LOGOUT");
        do l = d.ReadLine(); while (l[0] == '*');
        EXPECT_EQ(l.substr(0, 5), "a2 OK");
    }
    Dialog d;
    Open(d, s->imapPort, s->imapsPort, false);
    d.ReadLine();
    d.SendLine("a1 LOGIN " + s->acc2.user + " \"" + s->acc2.pass + "\"");
    std::string l;
    do l = d.ReadLine(); while (l[0] == '*');
    EXPECT_EQ(l.substr(0, 5), "a1 OK") << "password with a blank";
    d.SendLine("a2 SELECT INBOX");
    do l = d.ReadLine(); while (l[0] == '*');
    EXPECT_EQ(l.substr(0, 5), "a2 OK");
}

// ---- TLS ----

TEST_F(MailServers, CertificateVerifiesOnlyForTheTestCaAndOurNames) {
    struct Case {
        std::string ca;
        std::string name;
        bool ok;
    };
    const Case cases[] = {
        {s->caFile, "127.0.0.1", true},
        {s->caFile, "localhost", true},
        {s->caFile, "127.0.0.2", false},
        {s->caFile, "mail.example.com", false},
        {"", "localhost", false},   // the system trust store does not know the test CA
    };
    for (int port : {s->imapsPort, s->pop3sPort, s->smtpsPort})
        for (const Case& c : cases) {
            SCOPED_TRACE("port " + std::to_string(port) + ", " + c.name +
                         (c.ca.empty() ? ", system store" : ", test CA"));
            Dialog d;
            ASSERT_TRUE(d.Open(s->host, port));
            EXPECT_EQ(d.StartTls(c.ca, c.name), c.ok) << d.VerifyError();
        }
}

// ---- the helpers themselves (no servers needed) ----

TEST(MailServersFile, ReadsQuotedValuesAndNamesMissingKeys) {
    fs::path dir = fs::temp_directory_path() / ("tavrel-envfile-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string full =
        "# comment\nHOST=127.0.0.1\nSMTP_PORT=2525\nSMTPS_PORT=2465\nPOP3_PORT=2110\n"
        "POP3S_PORT=2995\nIMAP_PORT=2143\nIMAPS_PORT=2993\nCA_FILE=/x/ca.crt\n"
        "USER1=user1\nPASS1=p1\nADDR1=user1@tavrel.test\nMAILDIR1=/m/1\n"
        "USER2=user2\nPASS2='secret pass'\nADDR2=user2@tavrel.test\nMAILDIR2='/m/with blank'\r\n";
    std::ofstream(dir / "ok.env") << full;
    TestServers t;
    std::string why;
    ASSERT_TRUE(ReadTestServersFile((dir / "ok.env").string(), t, why)) << why;
    EXPECT_EQ(t.acc2.pass, "secret pass");
    EXPECT_EQ(t.maildir2, "/m/with blank");
    EXPECT_EQ(t.imapsPort, 2993);
    EXPECT_EQ(t.acc1.address, "user1@tavrel.test");

    std::string broken = full;
    broken.replace(broken.find("IMAP_PORT=2143"), 14, "IMAP_PORT=21x");
    broken.erase(broken.find("CA_FILE"), broken.find('\n', broken.find("CA_FILE")) + 1 -
                                             broken.find("CA_FILE"));
    std::ofstream(dir / "bad.env") << broken;
    EXPECT_FALSE(ReadTestServersFile((dir / "bad.env").string(), t, why));
    EXPECT_NE(why.find("CA_FILE"), std::string::npos) << why;
    EXPECT_NE(why.find("IMAP_PORT"), std::string::npos) << why;
    EXPECT_FALSE(ReadTestServersFile((dir / "none.env").string(), t, why));
    fs::remove_all(dir);
}

TEST(MailServersMaildir, CountsClearsAndWaits) {
    fs::path md = fs::temp_directory_path() / ("tavrel-maildir-" + std::to_string(::getpid()));
    fs::remove_all(md);
    for (const char* sub : {"new", "cur", "tmp"})
        fs::create_directories(md / sub);
    std::ofstream(md / "new" / "1.mail") << "a";
    std::ofstream(md / "cur" / "2.mail:2,S") << "b";
    std::ofstream(md / "tmp" / "3.partial") << "c";   // still being delivered
    std::ofstream(md / "cur" / ".hidden") << "d";
    EXPECT_EQ(CountMails(md.string()), 2);
    EXPECT_TRUE(WaitForMails(md.string(), 2, 0));

    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitForMails(md.string(), 3, 100));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::ofstream(md / "tmp" / "4") << "Subject: late";
        fs::rename(md / "tmp" / "4", md / "new" / "4.mail");
    });
    EXPECT_TRUE(WaitForMails(md.string(), 3, 5000));
    later.join();
    EXPECT_TRUE(WaitForMailContaining(md.string(), "Subject: late", 0));
    EXPECT_FALSE(WaitForMailContaining(md.string(), "Subject: never", 50));

    ClearMailbox(md.string());
    EXPECT_EQ(CountMails(md.string()), 0);
    EXPECT_TRUE(fs::exists(md / "tmp" / "3.partial")) << "tmp/ belongs to deliveries in progress";
    fs::remove_all(md);
}

} // namespace
