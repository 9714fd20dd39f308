// GDK modifier masks of the browser's key and mouse event flags.
#pragma once

#include <gdk/gdk.h>

#include <cstdint>

namespace kxcef {

// GDK modifier state of event flags (buttons included).
GdkModifierType StateFromEventFlags(std::uint32_t flags);

}  // namespace kxcef
