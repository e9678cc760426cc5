// Builds a file table from 100,000 stored-mail subjects (about 30,000 files of 1 to 5
// parts in 3,000 folders), as a structure refresh of a large mailbox does, and prints the
// time taken and the peak memory of the process.
#include "ExFile.h"
#include "StoredMail.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {
long PeakRssKiB() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}
} // namespace

int main() {
    std::mt19937 rng(12345);
    std::vector<std::string> subjects;
    subjects.reserve(110000);
    const int folders = 3000;
    for (int f = 0; f < folders; ++f)
        subjects.push_back(FolderSubject("\\top" + std::to_string(f % 30) + "\\folder" +
                                             std::to_string(f) + "\\",
                                         "45000.5"));
    int file = 0;
    while (subjects.size() < 100000) {
        uint32_t n = 1 + rng() % 5;
        std::string path = "\\top" + std::to_string(file % 30) + "\\folder" +
                           std::to_string(file % folders) + "\\file" + std::to_string(file) +
                           ".dat";
        for (uint32_t i = 1; i <= n; ++i)
            subjects.push_back(PartSubject(path, i, n, 8388608u * n, 123456789, 32, "45000.5",
                                           "44999.25"));
        ++file;
    }
    // A refresh applies them from the newest mail to the oldest.
    std::shuffle(subjects.begin(), subjects.end(), rng);
    long before = PeakRssKiB();

    auto start = std::chrono::steady_clock::now();
    TExFiles table;
    int parts = 0;
    for (auto it = subjects.rbegin(); it != subjects.rend(); ++it) parts += table.AddSubject(*it);
    double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    std::printf("table build: %zu subjects, %d entries, %d parts taken\n", subjects.size(),
                table.Count(), parts);
    std::printf("  time        %.1f ms\n", ms);
    std::printf("  peak memory %ld KiB (%ld KiB before building)\n", PeakRssKiB(), before);
    return 0;
}
