// WH_MOUSE hooks of the UI thread: newest first, each passing on with CallNextHookEx.
#pragma once

#include "uilib/win32.h"

namespace UiLib {
namespace detail {
bool MouseHooksInstalled();
// Non-zero: a hook swallowed the message.
LRESULT CallMouseHooks(UINT message, MOUSEHOOKSTRUCT* data);
}  // namespace detail
}  // namespace UiLib
