// Builds a control tree from an XML skin file:
//   <Window size="800,600" caption="0,0,0,40" sizebox="4,4,4,4" mininfo="640,480" bkcolor="#FF1E1E1E">
//     <VerticalLayout> <Label text="..."/> <Button name="close" width="40"/> ... </VerticalLayout>
//   </Window>
// Element names are control classes; attributes go to the control's
// SetAttribute in document order. Classes the library does not know are asked
// of the builder callback.
#pragma once

#include <memory>
#include <string>

#include "uilib/core.h"

namespace UiLib {
namespace detail {

struct SkinWindowInfo {
    bool hasSize = false;
    int cx = 0;
    int cy = 0;
    bool hasCaption = false;
    RECT caption;
    bool hasBkColor = false;
    DWORD bkColor = 0;
    bool hasSizeBox = false;  // the edges (left, top, right, bottom) that resize the window
    RECT sizeBox;
    bool hasMinInfo = false;  // the smallest size the user can give the window
    int minCx = 0;
    int minCy = 0;
};

// Null with `error` set when the file cannot be read or is not a skin.
std::unique_ptr<CControlUI> LoadSkin(const std::wstring& path, IDialogBuilderCallback* callback,
                                     SkinWindowInfo* info, std::string* error);
std::unique_ptr<CControlUI> LoadSkinFromText(const std::string& xml, IDialogBuilderCallback* callback,
                                             SkinWindowInfo* info, std::string* error);

}  // namespace detail
}  // namespace UiLib
