// The WebKit signals of a browser's view, turned into the client handler's
// engine callbacks.
#pragma once

#include <webkit2/webkit2.h>

namespace kxcef {

class BrowserImpl;

void ConnectViewSignals(BrowserImpl* browser);
void DisconnectViewSignals(WebKitWebView* view);
// "download-started" of a web context: downloads never run; the browser's
// client decides what happens instead.
void OnDownloadStarted(WebKitWebContext* context, WebKitDownload* download, gpointer);

}  // namespace kxcef
