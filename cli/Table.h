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

// A size text of the model ("1048,576 KB": one thousands comma at most, the window's form)
// with commas every three digits ("1,048,576 KB"). Other text is kept as it is.
std::string GroupedSize(const std::string& sizeText);
