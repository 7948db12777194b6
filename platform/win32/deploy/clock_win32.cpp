#include "platform/deploy/clock.h"

#include "platform/win32/win32_handles.h"

LocalTime local_time() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    TIME_ZONE_INFORMATION zone;
    DWORD which = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias;
    if (which == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    if (which == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
    if (which == TIME_ZONE_ID_INVALID) bias = 0;
    return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                     static_cast<int>(bias)};
}

uint32_t current_thread_id() { return GetCurrentThreadId(); }

void sleep_milliseconds(uint32_t milliseconds) { Sleep(milliseconds); }
