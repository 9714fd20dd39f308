// The process-wide GDK event handler: every event of the UI thread passes here
// first (key state, hooks, window messages) and then goes on to GTK.
#pragma once

namespace UiLib {
namespace detail {
void InstallEventRouter();
}  // namespace detail
}  // namespace UiLib
