#pragma once

#include <cstdint>

// The local wall clock, as a log record shows it.
struct LocalTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    int bias_minutes = 0;  // UTC minus local time, daylight saving included
};

LocalTime local_time();

uint32_t current_thread_id();

// Waits, as a retry loop between tries does.
void sleep_milliseconds(uint32_t milliseconds);
