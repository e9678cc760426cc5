// Cross-check with an independent MIME implementation (Python's email package): what we
// compose it reads back byte for byte, and what it composes we read back.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "Charset.h"
#include "IdMessage.h"

namespace {

bool HavePython() { return std::system("command -v python3 >/dev/null 2>&1") == 0; }

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

class MimePythonInteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HavePython()) GTEST_SKIP() << "python3 is not installed";
        char tmpl[] = "/tmp/tavrel-pymime-XXXXXX";
        dir_ = mkdtemp(tmpl);
        SetHeaderCodeset("UTF-8");
    }
    void TearDown() override {
        if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
        SetHeaderCodeset("");
    }
    int RunPython(const std::string& script) {
        WriteFile(dir_ + "/script.py", script);
        return std::system(("python3 '" + dir_ + "/script.py' '" + dir_ + "'").c_str());
    }
    std::string dir_;
};

TEST_F(MimePythonInteropTest, ComposedPartMailParsesToTheSameAttachmentBytes) {
    std::string data(300000, '\0');
    std::mt19937 gen(11);
    for (char& c : data) c = static_cast<char>(gen());
    data[0] = '.';  // a dot at the start of a line must not matter after unstuffing
    TIdMessage m;
    m.From.Add("me@example.com", "Tavrel");
    m.Recipients.Add("me@example.com", "Tavrel");
    m.Subject = "ExFile:\\Bücher und Ärger\\report 2008.doc<1/1>|Size:300000|Hash:5|Attri:32|Time:39512.5;39500.25";
    m.Body = {"IMPORTANT: Please don't delete this mail manually", "This Attach Size:300000."};
    auto& a = m.AddAttachmentMemory(data);
    a.ContentType = "Stream";
    a.ContentTransfer = "base64";
    a.FileName = "\\Bücher und Ärger\\report 2008.doc";
    WriteFile(dir_ + "/mail.eml", m.SaveToString());

    const int rc = RunPython(R"PY(
import sys, email, email.policy
d = sys.argv[1]
with open(d + '/mail.eml', 'rb') as f:
    msg = email.message_from_binary_file(f, policy=email.policy.default)
atts = list(msg.iter_attachments())
assert len(atts) == 1, len(atts)
with open(d + '/att.bin', 'wb') as f:
    f.write(atts[0].get_payload(decode=True))
with open(d + '/subject.txt', 'wb') as f:
    f.write(str(msg['subject']).encode('utf-8'))
with open(d + '/info.txt', 'w') as f:
    f.write(atts[0].get_content_type() + '\n' + str(msg['from']) + '\n' + str(len(msg.defects)))
with open(d + '/name.txt', 'wb') as f:
    f.write(atts[0].get_filename().encode('utf-8', 'surrogateescape'))
)PY");
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(ReadFile(dir_ + "/att.bin") == data);
    EXPECT_EQ(ReadFile(dir_ + "/subject.txt"), m.Subject);
    EXPECT_EQ(ReadFile(dir_ + "/name.txt"), "report 2008.doc");
    // "Stream" has no subtype, so a strict reader falls back to text/plain; the bytes and
    // the file name are what matter.
    EXPECT_EQ(ReadFile(dir_ + "/info.txt"), "text/plain\nTavrel <me@example.com>\n0");
}

TEST_F(MimePythonInteropTest, MailComposedByPythonParsesToItsSubjectNameAndBytes) {
    const int rc = RunPython(R"PY(
import sys, os, random
from email.message import EmailMessage
from email import policy
d = sys.argv[1]
random.seed(3)
data = bytes(random.getrandbits(8) for _ in range(70000))
m = EmailMessage()
m['From'] = 'Jörg <j@example.com>'
m['To'] = 'me@example.com'
m['Subject'] = 'ExFile:\\Ärger\\x y.txt<1/1>|Size:70000 with a rather long tail that needs folding, ' + 'ü' * 30
m.set_content('Hello,\nsee the file.\n')
m.add_attachment(data, maintype='application', subtype='octet-stream', filename='Ärger daten.bin')
m.add_attachment('Grüße\nzweite Zeile\n', subtype='plain', filename='note.txt', cte='quoted-printable')
with open(d + '/mail.eml', 'wb') as f:
    f.write(m.as_bytes(policy=policy.SMTP))
with open(d + '/data.bin', 'wb') as f:
    f.write(data)
with open(d + '/subject.txt', 'wb') as f:
    f.write(str(m['subject']).encode('utf-8'))
)PY");
    ASSERT_EQ(rc, 0);
    TIdMessage m;
    m.LoadFromFile(dir_ + "/mail.eml");
    EXPECT_EQ(m.Subject, ReadFile(dir_ + "/subject.txt"));
    ASSERT_EQ(m.From.Count(), 1u);
    EXPECT_EQ(m.From[0].Name, "Jörg");
    TIdAttachment* a = m.FirstAttachment();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->FileName, "Ärger daten.bin");
    EXPECT_TRUE(a->ReadAll() == ReadFile(dir_ + "/data.bin"));
    TIdAttachment* note = nullptr;
    for (const auto& p : m.Parts)
        if (p->IsAttachment() && static_cast<TIdAttachment&>(*p).FileName == "note.txt")
            note = static_cast<TIdAttachment*>(p.get());
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->ReadAll(), "Grüße\r\nzweite Zeile\r\n");
    bool sawText = false;
    for (const auto& p : m.Parts)
        if (!p->IsAttachment()) {
            EXPECT_EQ(static_cast<TIdText&>(*p).Body, (std::vector<std::string>{"Hello,", "see the file."}));
            sawText = true;
        }
    EXPECT_TRUE(sawText);
}

}  // namespace
