// A voice-chat module whose rooms are as large as their name says: joining
// "members-N" answers, from a thread of its own, with N members, and with the
// room id and stream address exactly as the core module handed them over.
#include <cstdlib>
#include <string>

#include "tests/support/nim_stand_in.h"

namespace {

std::string JsonText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
    return out;
}

class BigRoomObject final : public qmtest::NimStandIn {
public:
    ~BigRoomObject() override { Release(); }
    bool JoinRoom(const char* roomId, const char* rtmpUrl, bool, int) override {
        std::string room = roomId, rtmp = rtmpUrl;
        Spawn([this, room, rtmp] {
            long members = room.rfind("members-", 0) == 0 ? std::strtol(room.c_str() + 8, nullptr, 10) : 1;
            std::string json = "{\"res\":200,\"channelId\":7,\"room_id\":\"" + JsonText(room) + "\",\"rtmp_url\":\"" +
                               JsonText(rtmp) + "\",\"members\":[";
            for (long i = 0; i < members; ++i)
                json += (i ? ",{\"uid\":\"member-" : "{\"uid\":\"member-") + std::to_string(1000000 + i) +
                        "\",\"session\":" + std::to_string(i + 1) + "}";
            json += "]}";
            callback_->OnJoinRoom(json.c_str());
        });
        return true;
    }
};

}  // namespace

QM_STAND_IN_EXPORT IXNimObject* create_object() { return new BigRoomObject(); }

QM_STAND_IN_EXPORT void delete_object(IXNimObject* object) { delete static_cast<BigRoomObject*>(object); }
