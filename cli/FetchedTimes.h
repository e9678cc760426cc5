#pragma once
#include <ctime>
#include <string>
#include <vector>

class TExFiles;

// The copies that get makes outside the cache carry the stored modification time, not the
// time of the fetch. A file's Modified field is its file-system time when it was stored,
// in UTC and whole milliseconds (FileTimeToText); folders keep the local time they were
// made at instead, which is no file time, so a fetched folder keeps its own.

// The moment a stored date-time text stands for. False for a text that is no date-time.
bool StoredTimeToFileTime(const std::string& dateTimeText, struct timespec& out);

// Gives every file of the entry `entryPath` (a file, or a folder with all below it) that
// was copied into the local folder `targetDir` its stored modification time. Returns the
// messages for the copies whose time could not be set.
std::vector<std::string> ApplyStoredTimes(const TExFiles& files, const std::string& entryPath,
                                          const std::string& targetDir);
