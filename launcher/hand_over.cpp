#include "launcher/hand_over.h"

#include "platform/text.h"

namespace {
const char kTag[] = "QMHO1\n";
}  // namespace

std::string EncodeHandOver(const HandOverRequest& request) {
    std::string message = kTag;
    message += request.hasStartCid ? 'S' : 'R';
    if (request.hasStartCid) message += platform::WideToUtf8Lenient(request.startCid);
    return message;
}

bool DecodeHandOver(const std::string& message, HandOverRequest& request) {
    request = HandOverRequest();
    const std::size_t tag = sizeof(kTag) - 1;
    if (message.size() <= tag || message.compare(0, tag, kTag) != 0) return false;
    char kind = message[tag];
    if (kind == 'R') return message.size() == tag + 1;
    if (kind != 'S') return false;
    request.hasStartCid = true;
    std::string value = message.substr(tag + 1);
    // One line, as the section is read back: nothing may add lines or sections.
    std::size_t end = value.find_first_of(std::string("\r\n\0", 3));
    if (end != std::string::npos) value.resize(end);
    request.startCid = platform::Utf8ToWideLenient(value);
    return true;
}
