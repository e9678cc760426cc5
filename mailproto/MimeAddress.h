#pragma once
#include <cstddef>
#include <string>
#include <vector>

// One mail address with its display name (decoded, UTF-8).
struct TIdEMailAddressItem {
    std::string Address;
    std::string Name;
};

class TIdEMailAddressList {
public:
    TIdEMailAddressItem& Add(const std::string& address, const std::string& name = {});
    void Clear() { items_.clear(); }
    std::size_t Count() const { return items_.size(); }
    bool Empty() const { return items_.empty(); }
    TIdEMailAddressItem& operator[](std::size_t i) { return items_[i]; }
    const TIdEMailAddressItem& operator[](std::size_t i) const { return items_[i]; }
    std::vector<TIdEMailAddressItem>::const_iterator begin() const { return items_.begin(); }
    std::vector<TIdEMailAddressItem>::const_iterator end() const { return items_.end(); }

    // Header value of the list: entries joined by ", ". fromList: an entry without a name
    // takes its address as its name (the From form).
    std::string HeaderText(bool fromList) const;
    // Replaces the entries by those of a received header value ("Name <a@b>, c@d, ...");
    // display names are decoded (encoded words, quotes).
    // At most kMaxEntries entries are kept.
    void ParseHeaderText(const std::string& value);

    static constexpr std::size_t kMaxEntries = 1000;

private:
    std::vector<TIdEMailAddressItem> items_;
};

// One address in header form: "\"Name\" <address>" for a printable-ASCII name (backslash
// and double quote escaped), an encoded-word name + " <address>" otherwise, the address
// alone without a name.
std::string FormatAddress(const TIdEMailAddressItem& item);
