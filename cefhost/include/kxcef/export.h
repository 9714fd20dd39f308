// Symbol visibility of the browser host library.
#pragma once

#if defined(KXCEF2_BUILDING)
#define KXCEF2_API __attribute__((visibility("default")))
#else
#define KXCEF2_API
#endif
