#include "launcher/hand_over.h"

#include "platform/system_info.h"
#include "platform/text.h"

namespace {
// Without a token a hand-over keeps the form every earlier version reads;
// with one it carries the token on a line of its own before that body.
const char kTag[] = "QMHO1\n";
const char kTokenTag[] = "QMHO2\n";

bool ValidToken(const std::string& token) {
    if (token.empty() || token.size() > kMaxActivationToken) return false;
    for (char c : token)
        if (c < 0x21 || c > 0x7E) return false;
    return true;
}

bool DecodeBody(const std::string& body, HandOverRequest& request) {
    if (body.empty()) return false;
    char kind = body[0];
    if (kind == 'R') return body.size() == 1;
    if (kind != 'S') return false;
    request.hasStartCid = true;
    std::string value = body.substr(1);
    // One line, as the section is read back: nothing may add lines or sections.
    std::size_t end = value.find_first_of(std::string("\r\n\0", 3));
    if (end != std::string::npos) value.resize(end);
    request.startCid = platform::Utf8ToWideLenient(value);
    return true;
}

}  // namespace

std::string ActivationTokenOfThisStart() {
    std::string token = platform::GetEnv("XDG_ACTIVATION_TOKEN");
    if (!ValidToken(token)) token = platform::GetEnv("DESKTOP_STARTUP_ID");
    return ValidToken(token) ? token : std::string();
}

std::string EncodeHandOver(const HandOverRequest& request) {
    bool token = ValidToken(request.activationToken);
    std::string message = token ? kTokenTag + request.activationToken + "\n" : std::string(kTag);
    message += request.hasStartCid ? 'S' : 'R';
    if (request.hasStartCid) message += platform::WideToUtf8Lenient(request.startCid);
    return message;
}

bool DecodeHandOver(const std::string& message, HandOverRequest& request) {
    request = HandOverRequest();
    const std::size_t tag = sizeof(kTag) - 1;
    if (message.compare(0, tag, kTag) == 0) return DecodeBody(message.substr(tag), request);
    if (message.compare(0, tag, kTokenTag) != 0) return false;
    std::size_t end = message.find('\n', tag);
    if (end == std::string::npos) return false;
    std::string token = message.substr(tag, end - tag);
    if (!ValidToken(token) || !DecodeBody(message.substr(end + 1), request)) {
        request = HandOverRequest();
        return false;
    }
    request.activationToken = token;
    return true;
}
