// Machine facts: host name, boot time, local time.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct LocalTime {
    int year = 0, month = 0, day = 0;          // month 1..12, day 1..31
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

LocalTime Now();
// Host name (at most 99 bytes); false when the lookup fails.
bool HostName(std::string& name);
// Start time of process 1 (the boot), as local time; false when unknown. The
// kernel derives it from the wall clock: it moves when the clock is stepped.
bool BootTime(LocalTime& when);
// The kernel's random id of the current boot; false when unknown.
bool KernelBootId(std::string& id);
// Setting an environment variable for this process and its children.
void SetEnv(const std::string& name, const std::string& value);
std::string GetEnv(const std::string& name);

}  // namespace platform
