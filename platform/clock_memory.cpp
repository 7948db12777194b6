#include "platform/clock.h"

// A fixed instant, so that host tests can compare whole records.
LocalTime local_time() { return LocalTime{2026, 3, 7, 9, 5, 4, 32, -60}; }

uint32_t current_thread_id() { return 412; }

void sleep_milliseconds(uint32_t) {}
