// Builds a control tree from an XML skin file (read by skin_reader.h).
// Element names are control classes; attributes go to the control's
// SetAttribute in document order. Classes the library does not know are asked
// of the builder callback.
#pragma once

#include <memory>
#include <string>

#include "skin_reader.h"
#include "uilib/core.h"

namespace UiLib {
namespace detail {

// Null with `error` set when the file cannot be read or is not a skin.
std::unique_ptr<CControlUI> LoadSkin(const std::wstring& path, IDialogBuilderCallback* callback,
                                     SkinWindowInfo* info, std::string* error);
std::unique_ptr<CControlUI> LoadSkinFromText(const std::string& xml, IDialogBuilderCallback* callback,
                                             SkinWindowInfo* info, std::string* error);

}  // namespace detail
}  // namespace UiLib
