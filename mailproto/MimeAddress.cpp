#include "MimeAddress.h"

#include "Charset.h"
#include "MimeEncodedWord.h"
#include "ProtoText.h"

namespace {

bool IsPrintableAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c < 32 || c > 126) return false;
    return true;
}

using prototext::Trim;

// Removes surrounding double quotes and backslash escapes of a quoted string.
std::string Unquote(const std::string& s) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') return s;
    std::string r;
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
        if (s[i] == '\\' && i + 2 < s.size()) ++i;
        r.push_back(s[i]);
    }
    return r;
}

// Drops "(comments)" outside quotes; returns the comment text separately.
std::string StripComments(const std::string& s, std::string& comment) {
    std::string r;
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (quoted) {
            r.push_back(c);
            if (c == '\\' && i + 1 < s.size()) r.push_back(s[++i]);
            else if (c == '"') quoted = false;
        } else if (depth > 0) {
            if (c == '(') ++depth;
            else if (c == ')') --depth;
            if (depth > 0) comment.push_back(c);
        } else if (c == '(') {
            depth = 1;
        } else {
            if (c == '"') quoted = true;
            r.push_back(c);
        }
    }
    return r;
}

void ParseOne(const std::string& token, TIdEMailAddressItem& item) {
    const std::size_t lt = token.rfind('<');
    if (lt != std::string::npos) {
        std::size_t gt = token.find('>', lt);
        if (gt == std::string::npos) gt = token.size();
        item.Address = Trim(token.substr(lt + 1, gt - lt - 1));
        std::string comment;
        item.Name = DecodeHeaderValue(Unquote(Trim(StripComments(token.substr(0, lt), comment))));
        return;
    }
    std::string comment;
    item.Address = Trim(StripComments(token, comment));
    item.Name = DecodeHeaderValue(Trim(comment));
}

}  // namespace

TIdEMailAddressItem& TIdEMailAddressList::Add(const std::string& address, const std::string& name) {
    items_.push_back({address, name});
    return items_.back();
}

std::string FormatAddress(const TIdEMailAddressItem& item) {
    if (item.Name.empty()) return item.Address;
    if (IsPrintableAscii(item.Name)) {
        std::string r = "\"";
        for (char c : item.Name) {
            if (c == '\\' || c == '"') r.push_back('\\');
            r.push_back(c);
        }
        r += "\" <" + item.Address + ">";
        return r;
    }
    return EncodeAddressName(item.Name, CurrentHeaderCharset()) + " <" + item.Address + ">";
}

std::string TIdEMailAddressList::HeaderText(bool fromList) const {
    std::string r;
    for (const auto& it : items_) {
        if (!r.empty()) r += ", ";
        if (fromList && it.Name.empty()) r += FormatAddress({it.Address, it.Address});
        else r += FormatAddress(it);
    }
    return r;
}

void TIdEMailAddressList::ParseHeaderText(const std::string& value) {
    items_.clear();
    std::string token;
    bool quoted = false;
    int angle = 0, paren = 0;
    auto flush = [&] {
        const std::string t = Trim(token);
        token.clear();
        if (t.empty() || items_.size() >= kMaxEntries) return;
        TIdEMailAddressItem item;
        ParseOne(t, item);
        if (!item.Address.empty() || !item.Name.empty()) items_.push_back(std::move(item));
    };
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quoted) {
            if (c == '\\' && i + 1 < value.size()) {
                token.push_back(c);
                token.push_back(value[++i]);
                continue;
            }
            if (c == '"') quoted = false;
        } else if (paren > 0) {
            if (c == '(') ++paren;
            else if (c == ')') --paren;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '(') {
            paren = 1;
        } else if (c == '<') {
            ++angle;
        } else if (c == '>') {
            if (angle > 0) --angle;
        } else if ((c == ',' || c == ';') && angle == 0) {
            flush();
            continue;
        }
        token.push_back(c);
    }
    flush();
}
