#pragma once
// The shape of the mails that store files: what the upload sends, and what tools that
// must send the very same bytes compose.
#include "IdMessage.h"

#include <cstdint>
#include <string>

// From and to the mailbox's own address, both under the name "Tavrel".
void AddressToSelf(TIdMessage& m, const std::string& address);

// A file part's body lines and its attachment: content type "Stream", base64, the stored
// path as file name (only its last name goes on the wire).
void SetFilePart(TIdMessage& m, TIdAttachment& att, uint32_t partBytes, const std::string& entryPath);
