#include "skin_builder.h"

#include <pugixml.hpp>

#include "controls/attributes.h"
#include "platform/paths.h"
#include "runtime.h"

namespace UiLib {
namespace detail {
namespace {

constexpr int kMaxDepth = 64;

// Elements under <Window> that describe resources, not controls.
bool IsResourceElement(const wchar_t* name) {
    return SameName(name, L"Font") || SameName(name, L"Default") || SameName(name, L"Image") ||
           SameName(name, L"Style");
}

CControlUI* CreateKnown(const wchar_t* cls) {
    if (SameName(cls, L"Control")) return new CControlUI();
    if (SameName(cls, L"Container")) return new CContainerUI();
    if (SameName(cls, L"VerticalLayout")) return new CVerticalLayoutUI();
    if (SameName(cls, L"HorizontalLayout")) return new CHorizontalLayoutUI();
    if (SameName(cls, L"Label") || SameName(cls, L"Text")) return new CLabelUI();
    if (SameName(cls, L"Button")) return new CButtonUI();
    return nullptr;
}

std::unique_ptr<CControlUI> Build(const pugi::xml_node& node, IDialogBuilderCallback* callback, int depth) {
    std::wstring cls = FromUtf8(node.name());
    std::unique_ptr<CControlUI> control(CreateKnown(cls.c_str()));
    if (!control && callback) control.reset(callback->CreateControl(cls.c_str()));
    if (!control) {
        // Keeps the layout whole: the unknown class takes its place as a plain control.
        Log("skin: unknown control class " + std::string(node.name()));
        control = std::make_unique<CControlUI>();
    }
    for (const pugi::xml_attribute& attribute : node.attributes()) {
        std::wstring name = FromUtf8(attribute.name());
        std::wstring value = FromUtf8(attribute.value());
        control->SetAttribute(name.c_str(), value.c_str());
    }
    auto* container = dynamic_cast<CContainerUI*>(control.get());
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() != pugi::node_element) continue;
        if (!container) {
            Log("skin: " + std::string(node.name()) + " cannot hold " + child.name());
            continue;
        }
        if (depth + 1 >= kMaxDepth) {
            Log("skin: nesting too deep, " + std::string(child.name()) + " left out");
            continue;
        }
        container->Add(Build(child, callback, depth + 1).release());
    }
    return control;
}

std::unique_ptr<CControlUI> FromDocument(const pugi::xml_document& document, IDialogBuilderCallback* callback,
                                         SkinWindowInfo* info, std::string* error) {
    pugi::xml_node window = document.document_element();
    if (!window || std::string(window.name()) != "Window") {
        if (error) *error = "the root element is not <Window>";
        return nullptr;
    }
    SkinWindowInfo local;
    if (!info) info = &local;
    for (const pugi::xml_attribute& attribute : window.attributes()) {
        std::wstring name = FromUtf8(attribute.name());
        std::wstring value = FromUtf8(attribute.value());
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
            info->hasMinInfo = ParseSize(value.c_str(), &info->minCx, &info->minCy) && info->minCx > 0 && info->minCy > 0;
        }
    }
    std::vector<pugi::xml_node> controls;
    for (const pugi::xml_node& child : window.children()) {
        if (child.type() != pugi::node_element) continue;
        std::wstring name = FromUtf8(child.name());
        if (!IsResourceElement(name.c_str())) controls.push_back(child);
    }
    if (controls.empty()) {
        if (error) *error = "<Window> holds no control";
        return nullptr;
    }
    if (controls.size() == 1) return Build(controls.front(), callback, 0);
    // Several top controls share the window from top to bottom.
    auto root = std::make_unique<CVerticalLayoutUI>();
    for (const pugi::xml_node& node : controls) root->Add(Build(node, callback, 1).release());
    return root;
}

}  // namespace

std::unique_ptr<CControlUI> LoadSkin(const std::wstring& path, IDialogBuilderCallback* callback,
                                     SkinWindowInfo* info, std::string* error) {
    std::string bytes;
    if (!platform::ReadFileBytes(path, bytes)) {
        if (error) *error = "cannot read " + ToUtf8(path);
        return nullptr;
    }
    return LoadSkinFromText(bytes, callback, info, error);
}

std::unique_ptr<CControlUI> LoadSkinFromText(const std::string& xml, IDialogBuilderCallback* callback,
                                             SkinWindowInfo* info, std::string* error) {
    pugi::xml_document document;
    pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size());
    if (!parsed) {
        if (error) *error = std::string("XML error: ") + parsed.description();
        return nullptr;
    }
    return FromDocument(document, callback, info, error);
}

}  // namespace detail
}  // namespace UiLib
