#include "kxcef/cef3_handler.h"

CefProcessMessage::CefProcessMessage(std::string name) : name_(std::move(name)), args_(CefListValue::Create()) {}

CefRefPtr<CefProcessMessage> CefProcessMessage::Create(const std::string& name) {
    return CefRefPtr<CefProcessMessage>(new CefProcessMessage(name));
}
