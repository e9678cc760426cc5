// Everything a parse put into a TIdMessage, as one text: the MIME fuzz targets parse the
// same input in several ways and compare the snapshots.
#pragma once

#include "IdMessage.h"

#include <string>

namespace fuzzsnapshot {

inline void Add(std::string& out, const std::string& name, const std::string& value) {
    out += name;
    out += '=';
    out += std::to_string(value.size());
    out += ':';
    out += value;
    out += '\n';
}

inline void AddList(std::string& out, const std::string& name, const TIdEMailAddressList& list) {
    for (const auto& a : list) {
        Add(out, name + ".Address", a.Address);
        Add(out, name + ".Name", a.Name);
    }
}

// The header fields as parsed.
inline std::string Header(const TIdMessage& m) {
    std::string out;
    Add(out, "Subject", m.Subject);
    AddList(out, "From", m.From);
    AddList(out, "To", m.Recipients);
    AddList(out, "Cc", m.CCList);
    AddList(out, "Bcc", m.BccList);
    AddList(out, "ReplyTo", m.ReplyTo);
    Add(out, "Sender", m.Sender);
    Add(out, "ContentType", m.ContentType);
    Add(out, "CharSet", m.CharSet);
    Add(out, "Transfer", m.ContentTransferEncoding);
    Add(out, "Boundary", m.Boundary);
    Add(out, "Date", std::to_string(m.Date));
    Add(out, "Priority", std::to_string(m.Priority));
    Add(out, "Encoding", std::to_string(m.Encoding));
    for (const auto& [name, value] : m.Headers) Add(out, "Header." + name, value);
    return out;
}

// Header, body lines and parts; attachment bytes only when they were kept (asMemory).
inline std::string Whole(const TIdMessage& m) {
    std::string out = Header(m);
    for (const auto& line : m.Body) Add(out, "Body", line);
    for (const auto& p : m.Parts) {
        Add(out, "Part.ContentType", p->ContentType);
        Add(out, "Part.Transfer", p->ContentTransfer);
        Add(out, "Part.Disposition", p->ContentDisposition);
        for (const auto& [name, value] : p->ExtraHeaders) Add(out, "Part.Header." + name, value);
        if (const auto* t = dynamic_cast<const TIdText*>(p.get())) {
            for (const auto& line : t->Body) Add(out, "Part.Body", line);
        } else if (const auto* a = dynamic_cast<const TIdAttachmentMemory*>(p.get())) {
            Add(out, "Part.FileName", a->FileName);
            Add(out, "Part.Data", a->Data);
        }
    }
    return out;
}

}  // namespace fuzzsnapshot
