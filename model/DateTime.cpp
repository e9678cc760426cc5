#include "DateTime.h"

#include <chrono>
#include <cmath>

TDateTime UnixToDateTime(int64_t seconds, long nanoseconds) {
    return UnixEpochDays + (static_cast<double>(seconds) + nanoseconds / 1e9) / 86400.0;
}

TDateTime NowLocal() {
    using namespace std::chrono;
    auto now = system_clock::now();
    auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
    std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&secs, &local);
    // Shift by the local offset so the value reads as local wall-clock time.
    return UnixToDateTime(static_cast<int64_t>(secs) + local.tm_gmtoff, (ms % 1000) * 1000000L);
}

bool DecodeDateTime(TDateTime dt, std::tm& out, int& milliseconds) {
    if (!std::isfinite(dt) || dt < -693593.0 || dt > 2958466.0) return false;
    // Round to whole milliseconds first so 0.9999999 of a day does not show as 23:59:59.
    double totalMs = std::round(dt * 86400000.0);
    double dayNumber = std::floor(totalMs / 86400000.0);
    int64_t msOfDay = static_cast<int64_t>(totalMs - dayNumber * 86400000.0);
    int64_t days = static_cast<int64_t>(dayNumber) - 25569; // days since 1970-01-01
    // Civil-from-days (proleptic Gregorian).
    int64_t z = days + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    out = std::tm{};
    out.tm_year = static_cast<int>(y - 1900);
    out.tm_mon = static_cast<int>(m - 1);
    out.tm_mday = static_cast<int>(d);
    out.tm_hour = static_cast<int>(msOfDay / 3600000);
    out.tm_min = static_cast<int>(msOfDay / 60000 % 60);
    out.tm_sec = static_cast<int>(msOfDay / 1000 % 60);
    out.tm_wday = static_cast<int>(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday
    milliseconds = static_cast<int>(msOfDay % 1000);
    return true;
}
