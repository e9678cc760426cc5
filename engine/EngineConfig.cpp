#include "EngineConfig.h"

#include "IniFile.h"
#include "TextUtil.h"

TEngineConfig LoadEngineConfig(const TIniFile& ini) {
    TEngineConfig c;
    c.ImapDomain = ini.ReadString("IMAP", "Domain", c.ImapDomain);
    c.ImapHost = ini.ReadString("IMAP", "Host", c.ImapHost);
    int port = ini.ReadInteger("IMAP", "Port", c.ImapPort);
    if (port > 0 && port < 65536) c.ImapPort = static_cast<uint16_t>(port);
    c.VerifyPeer = ini.ReadBool("TLS", "VerifyPeer", true);
    c.CaFile = ini.ReadString("TLS", "CaFile", "");
    // Seconds; a value outside 1 .. 3600 (or not a number) keeps the default.
    auto seconds = [&](const char* key, int& ms) {
        int v = ini.ReadInteger("Net", key, ms / 1000);
        if (v >= 1 && v <= 3600) ms = v * 1000;
    };
    seconds("ConnectTimeout", c.ConnectTimeoutMs);
    seconds("ReadTimeout", c.ReadTimeoutMs);
    return c;
}

bool ReadsOverImap(const TEngineConfig& config, const std::string& account) {
    return LowerAscii(account).find('@' + LowerAscii(config.ImapDomain)) != std::string::npos;
}
