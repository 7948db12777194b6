#include "platform/deploy/clock.h"
#include "platform/memory/memory_machine.h"

LocalTime local_time() { return memory_machine().clock.now; }

uint32_t current_thread_id() { return memory_machine().clock.thread_id; }

void sleep_milliseconds(uint32_t milliseconds) { memory_machine().clock.slept_milliseconds += milliseconds; }
