// Replies to the page: every answer of the core module reaches the page
// function "JsHandleCallBack" as {"result":{"cbfn":...,"data":...}}.
//
// What the client sends a page has a bound of its own (the browser host's
// kMaxPageCommandTextBytes, 4 MiB), far above what a page may send. A reply
// over it is never dropped: it goes out truncated, in a form the page can
// recognise, and the daily log says so:
//   {"result":{"cbfn":...,"data":<data, its longest arrays cut to their first
//    elements>,"truncated":{"bytes":<size of the whole reply>,
//    "arrays":{"<path>":<full element count>,...}}}}
// where a path names an array inside "data" by its keys and indices joined
// with '.' ("members"); with no array to cut, "data" is null.
// A page command refused for the page's budget is answered too:
//   {"result":{"cbfn":...,"data":null,"refused":{"command":<name>,"reason":"busy"}}}
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <json/value.h>

#include "common/qn_interfaces.h"
#include "platform/variant.h"

// Where a reply goes: a browser and, for a reply to a call, the document
// that made it (0: the browser's front-end document, as events go).
struct ReplyAddress {
    int browserId = -1;
    std::uint64_t document = 0;
};
// The caller of `request`; read while the request is handled, kept for a
// reply that comes later from another thread.
ReplyAddress AddressOf(const QNInterface::QNCEF::CEFRequest& request);

// The reply text: compact JSON ending with a line feed, within the bound for
// what the client sends a page (truncated and logged beyond it).
std::string BuildCallbackJson(const Json::Value& data, const std::string& callbackName);
// The answer to a command refused for `reason` ("busy": over the page's budget).
std::string BuildRefusalJson(const std::string& command, const std::string& callbackName, const std::string& reason);

// Sends the UTF-8 reply text to "JsHandleCallBack" of browser `browserId` as one
// string argument. An empty text (or one that does not convert) sends nothing.
void SendJsCallback(const std::string& text, int browserId);
// The same to one document.
void SendJsCallback(const std::string& text, const ReplyAddress& to);
// Answers a page command in the document that sent it.
void ReplyToRequest(const QNInterface::QNCEF::CEFRequest& request, const Json::Value& data,
                    const std::string& callbackName);

// What delivers a page function call instead of the browser host (tests record
// replies without a browser). The arguments are borrowed for the call.
using JsCommandSender = std::function<bool(const std::string& functionName, std::vector<VARIANT>& args,
                                           int browserId)>;
// Replaces the sender; an empty function restores the browser host's
// CCEF3Manager::SendJsCommandTo. Returns the previous sender (empty for that).
JsCommandSender SetJsCommandSender(JsCommandSender sender);
