#pragma once
#include <string>

// Maps a library name to the file to load: a path (starting with "/") is used as it is,
// anything else lies in AppDir; a name ending ".dll" maps to lib + stem + ".so".
std::string LibraryPath(const std::string& nameOrPath);

// Loads the library, calls its DllRegisterServer / DllUnregisterServer export when there
// is one, and unloads it. Every failure is silent; the export's result is ignored.
void RegisterDll(const std::string& nameOrPath);
void UnregisterDll(const std::string& nameOrPath);

// Start-up step run right after IniFile is opened: registers the maker's shell component
// that lies beside the program, if it is there.
void RegisterStartupComponents();
