// Entry of a web-process extension module: the engine loads the module into
// every web process; the module installs its process and page-call handlers
// (as the host program does before CEFInit) and hands over to the library's
// render side. A module links either libKXCEF2.so or, to keep the browser side
// out of the web process, the render side alone (kxcef_render), never both:
// each has its own handler slots.
//
//   static void Install() { CCEF3Manager::SetProcessHandler(...); ... }
//   KXCEF2_RENDER_EXTENSION(Install)
#pragma once

#include "kxcef/cef3_manager.h"

extern "C" KXCEF2_API void KXCEF2_RenderProcessMain(void* webExtension, const void* initializationData,
                                                     void (*install)());

#define KXCEF2_RENDER_EXTENSION(installFunction)                                                       \
    extern "C" __attribute__((visibility("default"))) void webkit_web_extension_initialize_with_user_data( \
        void* webExtension, const void* initializationData) {                                            \
        KXCEF2_RenderProcessMain(webExtension, initializationData, &(installFunction));                  \
    }
