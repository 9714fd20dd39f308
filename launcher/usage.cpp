#include "launcher/usage.h"

#include <cstring>

bool AsksForUsage(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i)
        if (argv[i] && (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)) return true;
    return false;
}

std::string UsageText(const std::string& program) {
    std::string name = program.substr(program.find_last_of('/') == std::string::npos ? 0 : program.find_last_of('/') + 1);
    if (name.empty()) name = "qm_main";
    return "Usage: " + name + " [*SWITCH:VALUE]...\n"
           "Shows the play-companion front-end in a window with a tray icon. A second\n"
           "start hands its switches to the client that is already running and ends.\n"
           "\n"
           "Switches (a switch starts with '*' or '/'; names are case-insensitive):\n"
           "  *url:ADDRESS      open ADDRESS instead of the channel's front-end\n"
           "  *url2:ADDRESS     the same, for the second front-end address\n"
           "  *cid:ID           start with the channel ID\n"
           "  *start_cid:ID     report a start from channel ID to the running client\n"
           "  *ccid:ID *tgid:ID *pid:ID   launch values passed on to the launch report\n"
           "  --help, -h        print this help and end\n"
           "\n"
           "Files: the front-end and statistics hosts come from deploy.ini beside the\n"
           "program (/etc/" QM_PRODUCT_FOLDER "/deploy.ini for the installed package, or the\n"
           "file QM_DEPLOY_FILE names). The daily log, crash dumps and the browser profile\n"
           "go beside the program while its folder is the user's alone, otherwise to\n"
           "$XDG_STATE_HOME/" QM_PRODUCT_FOLDER ", $XDG_DATA_HOME/" QM_PRODUCT_FOLDER " and $XDG_CACHE_HOME/" QM_PRODUCT_FOLDER ".\n"
           "\n"
           "Exit status: 0 when the client was closed, 1 when it could not start, 3 when\n"
           "a client was already running.\n";
}
