#include "MimeHeaderList.h"

#include <strings.h>

namespace {
bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}
}  // namespace

std::string TIdHeaderList::Values(const std::string& name) const {
    for (const auto& f : fields_)
        if (SameName(f.first, name)) return f.second;
    return {};
}

bool TIdHeaderList::Contains(const std::string& name) const {
    for (const auto& f : fields_)
        if (SameName(f.first, name)) return true;
    return false;
}

void TIdHeaderList::SetValue(const std::string& name, const std::string& value) {
    if (value.empty()) {
        Remove(name);
        return;
    }
    bool found = false;
    for (auto it = fields_.begin(); it != fields_.end();) {
        if (SameName(it->first, name)) {
            if (!found) {
                it->second = value;
                found = true;
                ++it;
            } else {
                it = fields_.erase(it);
            }
        } else {
            ++it;
        }
    }
    if (!found) fields_.emplace_back(name, value);
}

void TIdHeaderList::Add(const std::string& name, const std::string& value) {
    fields_.emplace_back(name, value);
}

void TIdHeaderList::Remove(const std::string& name) {
    std::erase_if(fields_, [&](const Field& f) { return SameName(f.first, name); });
}
