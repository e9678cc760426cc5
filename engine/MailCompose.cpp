#include "MailCompose.h"

#include "StoredMail.h"

void AddressToSelf(TIdMessage& m, const std::string& address) {
    m.Recipients.Add(address, "Tavrel");
    m.From.Add(address, "Tavrel");
}

void SetFilePart(TIdMessage& m, TIdAttachment& att, uint32_t partBytes, const std::string& entryPath) {
    m.Body = {PartBodyLine1, PartBodyLine2(partBytes)};
    att.ContentType = "Stream";
    att.ContentTransfer = "base64";
    att.FileName = entryPath;
}
