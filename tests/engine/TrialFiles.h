#pragma once
// The files a trial's mailbox holds before its operation, and the new bytes it stores.
// Contents come from the seed; names and sizes are fixed, so every trial of an operation
// moves about the same bytes and a fault can be placed by the traffic of a fault-free run.
// The mails are written straight into the Maildir, as earlier deliveries would have left
// them, so the setting-up goes through no connection at all.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class TTrialFiles {
public:
    using TContents = std::map<std::string, std::string>; // mailbox path -> bytes

    static constexpr uint32_t kMaxAttach = 8192; // the mailbox's attachment size
    static constexpr const char* kFolder = "\\d\\";
    static constexpr const char* kTarget = "\\d\\a.bin";   // replaced, downloaded, deleted
    static constexpr const char* kNewFile = "\\d\\n.bin";  // uploaded

    explicit TTrialFiles(uint32_t seed);

    const TContents& Before() const { return before_; }
    // The bytes an upload or a replace stores.
    const std::string& NewBytes() const { return newBytes_; }
    // Folder and part mails of Before(), written into the Maildir; false when one could not
    // be written. `subjects` gets their subjects (what a refresh would read).
    bool Deliver(const std::string& maildir, const std::string& address,
                 std::vector<std::string>& subjects) const;

    // The mails a stored file of `size` bytes takes.
    static uint32_t MailsFor(size_t size);
    // The file part mails in the Maildir, by their subjects.
    static int CountPartMails(const std::string& maildir);

private:
    TContents before_;
    std::string newBytes_;
};
