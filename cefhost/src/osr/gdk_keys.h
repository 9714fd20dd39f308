// GDK key values and modifier masks for the browser's key and mouse events.
#pragma once

#include <gdk/gdk.h>

#include <cstdint>

namespace kxcef {

// The unshifted (or, with `shift`, shifted) key value of a Windows virtual
// key; 0 when there is none.
guint KeyvalFromVirtualKey(int vk, bool shift);
// GDK modifier state of event flags (buttons included).
GdkModifierType StateFromEventFlags(std::uint32_t flags);
// The keyboard's key code that produces `keyval`, or 0.
guint16 KeycodeOfKeyval(guint keyval);
bool IsModifierKeyval(guint keyval);

}  // namespace kxcef
