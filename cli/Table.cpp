#include "Table.h"

#include "ProgressPrinter.h"

#include <algorithm>

void PrintTable(std::FILE* out, const std::vector<std::vector<std::string>>& rows,
                const std::set<size_t>& rightAligned) {
    std::vector<std::vector<std::string>> safe;
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        std::vector<std::string> cells;
        for (size_t c = 0; c < row.size(); ++c) {
            cells.push_back(SanitizeForTerminal(row[c]));
            if (widths.size() <= c) widths.push_back(0);
            widths[c] = std::max(widths[c], DisplayWidth(cells.back()));
        }
        safe.push_back(std::move(cells));
    }
    for (const auto& row : safe) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            const bool last = c + 1 == row.size();
            std::string pad(widths[c] - DisplayWidth(row[c]), ' ');
            if (c > 0) line += "  ";
            if (rightAligned.count(c))
                line += pad + row[c];
            else
                line += last ? row[c] : row[c] + pad;
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::fprintf(out, "%s\n", line.c_str());
    }
}

void PrintFields(std::FILE* out, const std::vector<std::pair<std::string, std::string>>& fields) {
    std::vector<std::vector<std::string>> rows;
    for (const auto& [label, value] : fields) rows.push_back({label + ":", value});
    PrintTable(out, rows);
}

std::string GroupedSize(const std::string& sizeText) {
    // The leading number: digits, and commas between digits.
    size_t end = 0;
    std::string digits;
    while (end < sizeText.size()) {
        const char ch = sizeText[end];
        if (ch >= '0' && ch <= '9')
            digits += ch;
        else if (ch != ',' || digits.empty() || end + 1 >= sizeText.size() ||
                 sizeText[end + 1] < '0' || sizeText[end + 1] > '9')
            break;
        ++end;
    }
    if (digits.empty()) return sizeText;
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped + sizeText.substr(end);
}
