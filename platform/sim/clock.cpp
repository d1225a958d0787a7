// The local time, from the simulated clock.
#include "sim_internal.h"

#include <ctime>

using namespace sim;

// The machine's time zone is UTC: local time is the clock's time.
void GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    Enter("GetLocalTime");
    const ULONGLONG ticks = State().clock;
    constexpr ULONGLONG kTicksPerSecond = 10000000ull;
    constexpr long long kUnixEpochSeconds = 11644473600ll; // 1601-01-01 to 1970-01-01
    const auto unixSeconds = static_cast<std::time_t>(
        static_cast<long long>(ticks / kTicksPerSecond) - kUnixEpochSeconds);
    std::tm parts{};
    gmtime_r(&unixSeconds, &parts);
    *lpSystemTime = SYSTEMTIME{
        static_cast<WORD>(parts.tm_year + 1900), static_cast<WORD>(parts.tm_mon + 1),
        static_cast<WORD>(parts.tm_wday),        static_cast<WORD>(parts.tm_mday),
        static_cast<WORD>(parts.tm_hour),        static_cast<WORD>(parts.tm_min),
        static_cast<WORD>(parts.tm_sec),         static_cast<WORD>((ticks / 10000u) % 1000u)};
}
