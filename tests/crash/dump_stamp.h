// The local date and time as a dump's name carries it ("20261208_14_05_09").
#pragma once

#include <time.h>

#include <string>

namespace qmtest {

inline std::string DumpStamp(time_t t) {
    struct tm local{};
    localtime_r(&t, &local);
    char text[32];
    strftime(text, sizeof(text), "%Y%m%d_%H_%M_%S", &local);
    return text;
}

}  // namespace qmtest
