#pragma once
#include <string>
#include <vector>

// Names and paths between the mounted file system and the mailbox. A path of the file
// system is "/" or "/a/b" (no trailing slash); the mailbox writes "\" , "\a\b" for a file
// and "\a\b\" for a folder. Mailbox paths are compared with ASCII case folded, so the
// mounted tree is case-insensitive as well (the key of a path is its folded form).

// A stored name that can be shown as a Linux file name component: not empty or blank,
// not "." or "..", no "/" in it.
bool IsShownName(const std::string& name);

// The folded key of a file-system path ("/Docs/A.txt" -> "/docs/a.txt").
std::string PathKey(const std::string& fsPath);

// The mailbox path of a file-system path: "/" -> "\", "/a/b" -> "\a\b" (or "\a\b\" for a
// folder). Returns false when a component cannot be stored (IsStorableName).
bool ToMailboxPath(const std::string& fsPath, bool folder, std::string& mailboxPath);

// Parent file-system path and last component: "/a/b" -> "/a", "b"; "/a" -> "/", "a".
void SplitFsPath(const std::string& fsPath, std::string& parent, std::string& name);

// The components of a mailbox path ("\a\b\" -> a, b). False when one cannot be shown.
bool ShownComponents(const std::string& mailboxPath, std::vector<std::string>& names);
