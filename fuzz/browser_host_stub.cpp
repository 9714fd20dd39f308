// The one browser-host call the voice business links against. The fuzz
// target records replies through its own sender, so this is never reached;
// it stands in for the browser host library, which needs GTK and WebKit.
#include "kxcef/cef3_manager.h"

bool CCEF3Manager::SendJsCommandTo(std::string, std::vector<VARIANT>&, int, std::uint64_t) { return false; }
