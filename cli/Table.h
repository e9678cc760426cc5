#pragma once
#include <cstdio>
#include <set>
#include <string>
#include <vector>

// Rows printed in aligned columns (two blanks between them). Cells are made safe for the
// terminal; columns in `rightAligned` are padded on the left; the last column is not padded.
void PrintTable(std::FILE* out, const std::vector<std::vector<std::string>>& rows,
                const std::set<size_t>& rightAligned = {});

// "Label:" padded to a common width, then the value, one per line.
void PrintFields(std::FILE* out, const std::vector<std::pair<std::string, std::string>>& fields);
