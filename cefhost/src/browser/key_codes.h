// Windows virtual-key codes of GDK key values, for the key events the
// browser's client sees.
#pragma once

namespace kxcef {

// 0 when the key has no virtual-key code.
int VirtualKeyFromKeyval(unsigned int keyval);

}  // namespace kxcef
