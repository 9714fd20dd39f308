// Replies to the page: every answer of the core module reaches the page
// function "JsHandleCallBack" as {"result":{"cbfn":...,"data":...}}.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <json/value.h>

#include "common/qn_interfaces.h"
#include "platform/variant.h"

// The reply text: compact JSON ending with a line feed.
std::string BuildCallbackJson(const Json::Value& data, const std::string& callbackName);

// Sends the UTF-8 reply text to "JsHandleCallBack" of browser `browserId` as one
// string argument. An empty text (or one that does not convert) sends nothing.
void SendJsCallback(const std::string& text, int browserId);
// Answers a page command in the browser that sent it (-1 when it came without a window).
void ReplyToRequest(const QNInterface::QNCEF::CEFRequest& request, const Json::Value& data,
                    const std::string& callbackName);

// What delivers a page function call: by default the browser host's
// CCEF3Manager::SendJsCommand. The arguments are borrowed for the call.
using JsCommandSender = std::function<bool(const std::string& functionName, std::vector<VARIANT>& args,
                                           int browserId)>;
// Replaces the sender (tests record replies without a browser); an empty
// function restores the default. Returns the previous sender.
JsCommandSender SetJsCommandSender(JsCommandSender sender);
