#include "skin_builder.h"

#include "controls/attributes.h"
#include "platform/paths.h"
#include "runtime.h"

namespace UiLib {
namespace detail {
namespace {

CControlUI* CreateKnown(const wchar_t* cls) {
    if (SameName(cls, L"Control")) return new CControlUI();
    if (SameName(cls, L"Container")) return new CContainerUI();
    if (SameName(cls, L"VerticalLayout")) return new CVerticalLayoutUI();
    if (SameName(cls, L"HorizontalLayout")) return new CHorizontalLayoutUI();
    if (SameName(cls, L"Label") || SameName(cls, L"Text")) return new CLabelUI();
    if (SameName(cls, L"Button")) return new CButtonUI();
    return nullptr;
}

std::unique_ptr<CControlUI> Build(const SkinElement& element, IDialogBuilderCallback* callback) {
    std::unique_ptr<CControlUI> control(CreateKnown(element.cls.c_str()));
    if (!control && callback) control.reset(callback->CreateControl(element.cls.c_str()));
    if (!control) {
        // Keeps the layout whole: the unknown class takes its place as a plain control.
        Log("skin: unknown control class " + ToUtf8(element.cls));
        control = std::make_unique<CControlUI>();
    }
    for (const auto& [name, value] : element.attributes) control->SetAttribute(name.c_str(), value.c_str());
    auto* container = dynamic_cast<CContainerUI*>(control.get());
    for (const SkinElement& child : element.children) {
        if (!container) {
            Log("skin: " + ToUtf8(element.cls) + " cannot hold " + ToUtf8(child.cls));
            continue;
        }
        container->Add(Build(child, callback).release());
    }
    return control;
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
    SkinDescription skin;
    if (!ReadSkin(xml, &skin, error)) return nullptr;
    for (const std::string& note : skin.notes) Log("skin: " + note);
    if (info) *info = skin.window;
    if (skin.controls.size() == 1) return Build(skin.controls.front(), callback);
    // Several top controls share the window from top to bottom.
    auto root = std::make_unique<CVerticalLayoutUI>();
    for (const SkinElement& element : skin.controls) root->Add(Build(element, callback).release());
    return root;
}

}  // namespace detail
}  // namespace UiLib
