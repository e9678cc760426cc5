#pragma once
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// An ordered list of header fields (name, value). Names compare without regard to ASCII
// case; the same name may occur more than once.
class TIdHeaderList {
public:
    using Field = std::pair<std::string, std::string>;

    // Value of the first field with this name, empty when there is none.
    std::string Values(const std::string& name) const;
    bool Contains(const std::string& name) const;
    // Replaces the first field of that name (removing any further ones), or appends it;
    // an empty value removes every field of that name.
    void SetValue(const std::string& name, const std::string& value);
    void Add(const std::string& name, const std::string& value);
    void Remove(const std::string& name);
    void Clear() { fields_.clear(); }

    std::size_t Count() const { return fields_.size(); }
    bool Empty() const { return fields_.empty(); }
    const Field& operator[](std::size_t i) const { return fields_[i]; }
    std::vector<Field>::const_iterator begin() const { return fields_.begin(); }
    std::vector<Field>::const_iterator end() const { return fields_.end(); }

private:
    std::vector<Field> fields_;
};
