#include "platform/text.h"
#include "uilib/core.h"

namespace UiLib {

std::string CDuiString::GetStringA() const { return platform::WideToAnsi(text_); }

}  // namespace UiLib
