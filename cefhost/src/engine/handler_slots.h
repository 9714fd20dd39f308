// The process's manager instance and its application object, whose slots
// hold the host program's handlers. Compiled into both sides of the process
// boundary: the library (browser process) and its render side, which
// web-process extension modules link without the library.
#pragma once

#include "engine/app.h"
#include "kxcef/cef3_manager.h"

namespace kxcef {

// The current instance; null before the first use and after shutdown.
CCEF3Manager* ManagerInstance();
// The current instance, made on first use.
CCEF3Manager* EnsureManagerInstance();
// Makes `next` current and returns the one it replaces (the caller's to delete).
CCEF3Manager* ExchangeManagerInstance(CCEF3Manager* next);
// The current application object (null without a manager instance).
CefRefPtr<CCEF3APP> CurrentApp();

}  // namespace kxcef
