// "_nim_enum_player": which known music players run, and from where.
#include <json/value.h>

#include "common/log_record.h"
#include "core/services/nim/nim_business.h"
#include "core/services/player/player_scan.h"
#include "core/services/reply/js_reply.h"

void NimBusiness::OnNimEnumPlayer(const Request& request, const std::string&) {
    QM_LOG("Logic\\Business\\NimBusiness\\NimBusiness") << "NimBusiness Enum Player";
    // The request ends with this call; the answer comes from the worker pool.
    PlayerScan::Get()->Request([request](const Json::Value& data) { ReplyToRequest(request, data, "_nim_enum_player"); });
}
