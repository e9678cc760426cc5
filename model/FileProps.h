#pragma once
#include <functional>
#include <string>

#include "ExFile.h"

// The file properties dialog as the model fills it.
struct TFilePropDialog {
    std::string Caption, edtName, lblLocation, lblType;
    std::string Icon; // "folder", or the file's extension (icon lookup by the window)
    std::string lblSize, lblContains, lblCreated, lblModified;
    bool containsVisible = true;
};

using TFilePropRunner = std::function<void(TFilePropDialog&)>;
void SetFilePropRunner(TFilePropRunner runner);

// Fills the dialog for a file or folder entry of the open mailbox and shows it.
// A date text that is not a number shows as empty.
TFilePropDialog FileProperties(const TExFiles& table, const std::string& alias,
                               const TExFile& entry);
void ShowFileProperties(const TExFiles& table, const std::string& alias, const TExFile& entry);
