// Symbol visibility of the UI library.
#pragma once

#if defined(UILIB_BUILDING)
#define UILIB_API __attribute__((visibility("default")))
#else
#define UILIB_API
#endif
