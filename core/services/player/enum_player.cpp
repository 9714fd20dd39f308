// "_nim_enum_player": which known music players run, and from where.
#include <json/value.h>

#include "common/log_record.h"
#include "core/services/nim/nim_business.h"
#include "core/services/player/media_players.h"
#include "core/services/reply/js_reply.h"
#include "platform/process.h"
#include "platform/text.h"

void NimBusiness::OnNimEnumPlayer(const Request& request, const std::string&) {
    QM_LOG("Logic\\Business\\NimBusiness\\NimBusiness") << "NimBusiness Enum Player";
    Json::Value data;  // stays null when no player runs
    const std::vector<platform::ProcessEntry> processes = platform::SnapshotProcesses();
    for (const MediaPlayerRow& row : MediaPlayerTable()) {
        // Paths go into the reply as UTF-8, which the JSON writer expects; the
        // reply text is then plain ASCII and needs no further conversion.
        std::wstring path = FindProcessImagePathIn(processes, row.exeName);
        if (!path.empty()) data[row.replyKey] = platform::WideToUtf8(path);
    }
    ReplyToRequest(request, data, "_nim_enum_player");
}
