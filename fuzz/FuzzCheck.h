// The checks of the fuzz targets: a broken expectation prints what differed and aborts, so
// libFuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzcheck {

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void Expect(bool ok, const char* what) {
    if (!ok) Fail(what);
}

// Two results that must be the same; on a difference both are printed from the first
// differing byte on.
inline void ExpectSame(const std::string& a, const std::string& b, const char* what) {
    if (a == b) return;
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    const std::size_t from = i > 200 ? i - 200 : 0;
    std::fprintf(stderr, "--- %s: first difference at byte %zu\n--- one:\n%s\n--- other:\n%s\n", what, i,
                 a.substr(from, 600).c_str(), b.substr(from, 600).c_str());
    Fail(what);
}

}  // namespace fuzzcheck
