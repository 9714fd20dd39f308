// Base of every business object of the core module: started once the module
// runs, stopped at module stop, never deleted before the process ends. Each
// business registers its page commands from a table, in the table's order.
#pragma once

#include <string>
#include <vector>

#include "common/qn_interfaces.h"

class IBaseBusiness {
public:
    virtual bool Init() = 0;
    virtual bool Uninit() = 0;
    virtual ~IBaseBusiness() = default;
};

// One page command of a business: name, registered callback name, handler.
template <class Business>
struct PageCommand {
    const char* name;
    const char* callbackName;
    void (Business::*handler)(const QNInterface::QNCEF::CEFRequest& request, const std::string& callbackName);
};

// Registers every command of `table` with `window`, in the table's order, each
// calling its handler on `business`.
template <class Business>
void RegisterCommandTable(Business* business, const std::vector<PageCommand<Business>>& table,
                          QNInterface::WND::IQNWebWnd* window) {
    if (!window) return;
    for (const PageCommand<Business>& c : table) {
        auto handler = c.handler;
        window->RegisterCaller(c.name, c.callbackName,
                               [business, handler](const QNInterface::QNCEF::CEFRequest& request,
                                                   const std::string& callbackName) {
                                   (business->*handler)(request, callbackName);
                               });
    }
}
