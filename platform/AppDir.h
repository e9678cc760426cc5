#pragma once
#include <string>

// The program folder: Data.bin, Tavrel.ini and MailRoot live here. Always ends with "/".
// Chosen once at start-up: $TAVREL_HOME when set, else the executable's folder when it is
// writable, else $XDG_DATA_HOME/tavrel/ (default ~/.local/share/tavrel/).
const std::string& AppDir();

// Picks AppDir from the environment and the running executable; creates the folder when
// it comes from TAVREL_HOME or XDG and does not exist yet. Calling it again re-reads the
// environment (tests and `--home` use this).
void InitAppDir();

// Sets AppDir explicitly (with or without trailing "/"), creating the folder if needed.
void SetAppDir(const std::string& dir);

// Folder of the running executable, with trailing "/".
std::string ExecutableDir();
