// Starts the engine the way a host program does and prints what happened:
//   kxtest_probe [create-first] [anything, e.g. --type=renderer]
// "create-first" asks for a browser before anything else exists.
#include <cstdio>
#include <cstring>

#include "kxcef/cef3_manager.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "create-first") == 0) {
        RECT rect{0, 0, 100, 100};
        CefRefPtr<CCEF3Handler> h = CCEF3Manager::CreateBrowser(nullptr, rect, "about:blank", false, false, 0);
        std::printf("CreateBrowser=%s\n", h ? "handler" : "null");
    }
    CCEF3Manager::AppendCmdLine("early", "1");  // no instance yet: ignored
    int result = CCEF3Manager::CEFInit(nullptr);
    std::printf("CEFInit=%d\n", result);
    std::fflush(stdout);
    if (result < 0) CCEF3Manager::CEFShutDown();
    return result < 0 ? 10 : result;
}
