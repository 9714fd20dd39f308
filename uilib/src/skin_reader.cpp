#include "skin_reader.h"

#include <pugixml.hpp>

#include "controls/attributes.h"
#include "platform/text.h"

namespace UiLib {
namespace detail {
namespace {

// Names and values may hold any bytes: a skin is not trusted to be UTF-8.
std::wstring Text(const char* utf8) { return platform::Utf8ToWideLenient(std::string(utf8 ? utf8 : "")); }

// Elements under <Window> that describe resources, not controls.
bool IsResourceElement(const std::wstring& name) {
    return SameName(name.c_str(), L"Font") || SameName(name.c_str(), L"Default") ||
           SameName(name.c_str(), L"Image") || SameName(name.c_str(), L"Style");
}

void ReadWindowAttributes(const pugi::xml_node& window, SkinWindowInfo* info) {
    for (const pugi::xml_attribute& attribute : window.attributes()) {
        std::wstring name = Text(attribute.name());
        std::wstring value = Text(attribute.value());
        if (SameName(name.c_str(), L"size")) {
            info->hasSize = ParseSize(value.c_str(), &info->cx, &info->cy) && info->cx > 0 && info->cy > 0;
        } else if (SameName(name.c_str(), L"caption")) {
            info->caption = ParseRect(value.c_str());
            info->hasCaption = true;
        } else if (SameName(name.c_str(), L"bkcolor")) {
            info->hasBkColor = ParseColor(value.c_str(), &info->bkColor);
        } else if (SameName(name.c_str(), L"sizebox")) {
            info->sizeBox = ParseRect(value.c_str());
            info->hasSizeBox = true;
        } else if (SameName(name.c_str(), L"mininfo")) {
            info->hasMinInfo =
                ParseSize(value.c_str(), &info->minCx, &info->minCy) && info->minCx > 0 && info->minCy > 0;
        }
    }
}

SkinElement ReadElement(const pugi::xml_node& node, int depth, int* leftOut) {
    SkinElement element;
    element.cls = Text(node.name());
    for (const pugi::xml_attribute& attribute : node.attributes())
        element.attributes.emplace_back(Text(attribute.name()), Text(attribute.value()));
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() != pugi::node_element) continue;
        if (depth + 1 >= kSkinMaxDepth) {
            ++*leftOut;
            continue;
        }
        element.children.push_back(ReadElement(child, depth + 1, leftOut));
    }
    return element;
}

}  // namespace

bool ReadSkin(const std::string& xml, SkinDescription* out, std::string* error) {
    *out = SkinDescription();
    pugi::xml_document document;
    pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size());
    if (!parsed) {
        if (error) *error = std::string("XML error: ") + parsed.description();
        return false;
    }
    pugi::xml_node window = document.document_element();
    if (!window || std::string(window.name()) != "Window") {
        if (error) *error = "the root element is not <Window>";
        return false;
    }
    ReadWindowAttributes(window, &out->window);
    int leftOut = 0;
    for (const pugi::xml_node& child : window.children()) {
        if (child.type() != pugi::node_element) continue;
        if (IsResourceElement(Text(child.name()))) continue;
        out->controls.push_back(ReadElement(child, 0, &leftOut));
    }
    if (leftOut > 0) out->notes.push_back("nesting too deep: " + std::to_string(leftOut) + " element(s) left out");
    if (out->controls.empty()) {
        if (error) *error = "<Window> holds no control";
        return false;
    }
    return true;
}

}  // namespace detail
}  // namespace UiLib
