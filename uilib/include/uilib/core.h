// Strings, notifications and the control tree of the skinned-window library.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "uilib/win32.h"

namespace UiLib {

class CControlUI;
class CPaintManagerUI;

// Wide UI text.
class UILIB_API CDuiString {
public:
    CDuiString() = default;
    CDuiString(const wchar_t* text) : text_(text ? text : L"") {}
    CDuiString(std::wstring text) : text_(std::move(text)) {}
    const wchar_t* GetData() const { return text_.c_str(); }
    operator const wchar_t*() const { return text_.c_str(); }
    const std::wstring& str() const { return text_; }
    int GetLength() const { return static_cast<int>(text_.size()); }
    bool IsEmpty() const { return text_.empty(); }
    void Empty() { text_.clear(); }
    std::string GetStringA() const;  // ANSI code page
    bool operator==(const wchar_t* other) const { return text_ == (other ? other : L""); }
    bool operator!=(const wchar_t* other) const { return !(*this == other); }
    bool operator==(const CDuiString& other) const { return text_ == other.text_; }
    CDuiString& operator=(const wchar_t* text) {
        text_ = text ? text : L"";
        return *this;
    }
    CDuiString& operator+=(const wchar_t* text) {
        text_ += text ? text : L"";
        return *this;
    }

private:
    std::wstring text_;
};

// A skin notification: "click" from a button, with the sending control.
struct TNotifyUI {
    CDuiString sType;
    CControlUI* pSender = nullptr;
    DWORD dwTimestamp = 0;
    POINT ptMouse;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

class INotifyUI {
public:
    virtual void Notify(TNotifyUI& msg) = 0;

protected:
    ~INotifyUI() = default;
};

class IMessageFilterUI {
public:
    virtual LRESULT MessageHandler(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) = 0;

protected:
    ~IMessageFilterUI() = default;
};

// Creates the controls of classes the library does not know; null lets the library decide.
class IDialogBuilderCallback {
public:
    virtual CControlUI* CreateControl(const wchar_t* className) = 0;

protected:
    ~IDialogBuilderCallback() = default;
};

class UILIB_API CNotifyPump {
public:
    virtual ~CNotifyPump() = default;
};

// Events the paint manager routes to a control (mouse, timers).
enum EventType {
    UIEVENT_MOUSEMOVE = 1,
    UIEVENT_MOUSELEAVE,
    UIEVENT_BUTTONDOWN,
    UIEVENT_BUTTONUP,
    UIEVENT_TIMER,
    UIEVENT_SETFOCUS,
    UIEVENT_KILLFOCUS,
};
struct TEventUI {
    int Type = 0;
    CControlUI* pSender = nullptr;
    DWORD dwTimestamp = 0;
    POINT ptMouse;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// Base of every control: a rectangle in its window's client area, attributes
// from the skin, painting and events.
class UILIB_API CControlUI {
public:
    CControlUI();
    virtual ~CControlUI();
    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;

    virtual const wchar_t* GetClass() const { return L"Control"; }
    CDuiString GetName() const { return name_; }
    void SetName(const wchar_t* name) { name_ = name; }
    CDuiString GetText() const { return text_; }
    void SetText(const wchar_t* text);
    // What the control does, in words ("tooltip"): shown on hover and read by
    // screen readers as its name (the text when there is none).
    CDuiString GetToolTip() const { return toolTip_; }
    void SetToolTip(const wchar_t* text);

    virtual void SetPos(RECT rc);
    const RECT& GetPos() const { return pos_; }
    virtual void DoPaint(HDC hdc, const RECT& rcPaint);
    virtual void DoEvent(TEventUI& event);
    virtual void SetAttribute(const wchar_t* name, const wchar_t* value);
    void Invalidate();

    CPaintManagerUI* GetManager() const { return manager_; }
    CControlUI* GetParent() const { return parent_; }
    virtual void SetManager(CPaintManagerUI* manager, CControlUI* parent);

    bool IsVisible() const { return visible_; }
    void SetVisible(bool visible);
    // Fixed size from the skin (0 = take what the layout gives).
    int GetFixedWidth() const { return fixedWidth_; }
    int GetFixedHeight() const { return fixedHeight_; }
    void SetFixedWidth(int cx) { fixedWidth_ = cx; }
    void SetFixedHeight(int cy) { fixedHeight_ = cy; }
    DWORD GetBkColor() const { return bkColor_; }
    void SetBkColor(DWORD argb) { bkColor_ = argb; }
    DWORD GetTextColor() const { return textColor_; }
    // Space kept free around the control by the layout that places it ("padding").
    const RECT& GetPadding() const { return padding_; }

    // Child controls (empty for leaves); used by layouts.
    virtual int GetCount() const { return 0; }
    virtual CControlUI* GetItemAt(int) const { return nullptr; }
    // The deepest visible control at a client point.
    virtual CControlUI* FindControlAt(POINT pt);
    virtual CControlUI* FindControlByName(const wchar_t* name);

protected:
    CPaintManagerUI* manager_ = nullptr;
    CControlUI* parent_ = nullptr;
    CDuiString name_;
    CDuiString text_;
    CDuiString toolTip_;
    RECT pos_;
    bool visible_ = true;
    int fixedWidth_ = 0;
    int fixedHeight_ = 0;
    DWORD bkColor_ = 0;
    DWORD textColor_ = 0xFF000000;
    RECT padding_;
};

// A control with children.
class UILIB_API CContainerUI : public CControlUI {
public:
    ~CContainerUI() override;
    const wchar_t* GetClass() const override { return L"Container"; }
    bool Add(CControlUI* control);  // takes ownership
    int GetCount() const override { return static_cast<int>(items_.size()); }
    CControlUI* GetItemAt(int index) const override;
    void SetPos(RECT rc) override;
    void DoPaint(HDC hdc, const RECT& rcPaint) override;
    void SetManager(CPaintManagerUI* manager, CControlUI* parent) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    CControlUI* FindControlAt(POINT pt) override;
    CControlUI* FindControlByName(const wchar_t* name) override;

protected:
    // The rectangle left for the children: the control's minus its "inset".
    RECT ChildArea() const;
    std::vector<std::unique_ptr<CControlUI>> items_;
    int childPadding_ = 0;
    RECT inset_;
};

// Children stacked top to bottom; fixed heights first, the rest share what is left.
class UILIB_API CVerticalLayoutUI : public CContainerUI {
public:
    const wchar_t* GetClass() const override { return L"VerticalLayout"; }
    void SetPos(RECT rc) override;
};

// Children side by side; fixed widths first, the rest share what is left.
class UILIB_API CHorizontalLayoutUI : public CContainerUI {
public:
    const wchar_t* GetClass() const override { return L"HorizontalLayout"; }
    void SetPos(RECT rc) override;
};

class UILIB_API CLabelUI : public CControlUI {
public:
    const wchar_t* GetClass() const override { return L"Label"; }
    void DoPaint(HDC hdc, const RECT& rcPaint) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;

protected:
    int fontSize_ = 13;
    bool centered_ = false;
};

// Sends a "click" notification when pressed and released over it.
class UILIB_API CButtonUI : public CLabelUI {
public:
    CButtonUI();
    const wchar_t* GetClass() const override { return L"Button"; }
    void DoEvent(TEventUI& event) override;
    void DoPaint(HDC hdc, const RECT& rcPaint) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;

private:
    bool pressed_ = false;
    bool hot_ = false;
    DWORD hotBkColor_ = 0;
};

// Drawing helpers for controls' DoPaint.
class UILIB_API CRenderEngine {
public:
    static void DrawColor(HDC hdc, const RECT& rc, DWORD argb);
    static void DrawText(HDC hdc, const RECT& rc, const wchar_t* text, DWORD argb, int fontSize, bool center);
    // Draws 32-bit ARGB pixels (premultiplied, native order) scaled into `dest`.
    static void DrawImage(HDC hdc, const unsigned char* pixels, int width, int height, int stride, const RECT& dest);
};

}  // namespace UiLib
