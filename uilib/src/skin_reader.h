// Reads an XML skin file into a plain description, without GTK or controls:
//   <Window size="800,600" caption="0,0,0,40" sizebox="4,4,4,4" mininfo="640,480" bkcolor="#FF1E1E1E">
//     <VerticalLayout> <Label text="..."/> <Button name="close" width="40"/> ... </VerticalLayout>
//   </Window>
// The window's own attributes are read here; every other element is kept as
// its class name and its attributes in document order, for the skin builder
// to turn into controls. A skin file comes from disk beside the program and
// is read as untrusted text: nesting is cut off, never followed to the end.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/win_types.h"

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

struct SkinElement {
    std::wstring cls;
    std::vector<std::pair<std::wstring, std::wstring>> attributes;
    std::vector<SkinElement> children;
};

struct SkinDescription {
    SkinWindowInfo window;
    // The window's controls; several share the window from top to bottom.
    std::vector<SkinElement> controls;
    // What was left out on the way, one line each, for the log.
    std::vector<std::string> notes;
};

// The deepest nesting kept, counting the window's controls as the first level.
constexpr int kSkinMaxDepth = 64;

// False with `error` set when the text is no XML or not a skin (the root is
// not <Window>, or it holds no control).
bool ReadSkin(const std::string& xml, SkinDescription* out, std::string* error);

}  // namespace detail
}  // namespace UiLib
