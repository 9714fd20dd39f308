// The engine-side callback interfaces of cookie work: a visitor that sees the
// cookies of a URL one by one, and the completion callbacks of setting,
// deleting and flushing. All of them are called on the UI thread.
#pragma once

#include "kxcef/cef_base.h"
#include "kxcef/cookie_manager.h"

class CefCookieVisitor : public CefBaseRefCounted {
public:
    // `count` is the index of `cookie` among `total`. Setting `deleteCookie`
    // removes the cookie from the store; false stops the visit.
    virtual bool Visit(const CefCookie& cookie, int count, int total, bool& deleteCookie) = 0;
};

class CefSetCookieCallback : public CefBaseRefCounted {
public:
    virtual void OnComplete(bool success) = 0;
};

class CefDeleteCookiesCallback : public CefBaseRefCounted {
public:
    virtual void OnComplete(int numDeleted) = 0;
};

class CefCompletionCallback : public CefBaseRefCounted {
public:
    virtual void OnComplete() = 0;
};
