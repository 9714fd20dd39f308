// The browser-host calls the voice business links against. The fuzz target
// records replies through its own sender and loads no voice module, so these
// are never reached; they stand in for the browser host library, which needs
// GTK and WebKit.
#include "kxcef/cef3_manager.h"
#include "kxcef/profile.h"

bool CCEF3Manager::SendJsCommand(std::string, std::vector<VARIANT>&, int) { return false; }
bool CCEF3Manager::SendJsCommandTo(std::string, std::vector<VARIANT>&, int, std::uint64_t) { return false; }

size_t KXCEF2_ProfileDirectory(char* buffer, size_t size) {
    if (buffer && size) buffer[0] = '\0';
    return 0;
}
