// The desktop launcher of the client, named after the product.
#pragma once

#include <string>

// Writes "<desktop>/<productName>.desktop" starting the executable with the
// launch arguments; failures are ignored (false).
bool WriteDesktopShortcut(const std::wstring& productName, const std::wstring& launchArguments);
