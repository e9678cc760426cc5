#pragma once
#include <cstdint>
#include <functional>
#include <string>

class TIniFile;

// Values the worker is handed by the front end: the rule that reads some accounts over
// IMAP4, the TLS check, the time-outs, and the waits (shortened by tests).
struct TEngineConfig {
    std::string ImapDomain = "GMAIL.COM"; // accounts holding "@" + this (upper case) use IMAP4
    std::string ImapHost = "imap.gmail.com";
    uint16_t ImapPort = 993;
    bool VerifyPeer = true;
    std::string CaFile;                   // trust anchors; empty: the system store
    int ConnectTimeoutMs = 30000;
    int ReadTimeoutMs = 120000;
    int RetryDelayUnitMs = 3000;          // attempt a is followed by a wait of a units
    int CreateFileRetryMs = 1000;         // pause before the cache file is tried again
    // Seen for every wait between attempts, with its length in milliseconds (tests).
    std::function<void(int)> OnRetryWait;
};

// Reads section "IMAP" (Domain, Host, Port), "TLS" (VerifyPeer, CaFile) and "Net"
// (ConnectTimeout, ReadTimeout: seconds, 1 to 3600) of Tavrel.ini.
TEngineConfig LoadEngineConfig(const TIniFile& ini);

// True when the account is read over IMAP4 (ImapHost/ImapPort) instead of its POP3 server:
// it holds "@" + ImapDomain, case ignored.
bool ReadsOverImap(const TEngineConfig& config, const std::string& account);
