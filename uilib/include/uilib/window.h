// Windows of the skinned-window library: CWindowWnd (a window with a message
// procedure), CPaintManagerUI (the message loop and a window's control tree)
// and IWindowBase (a window whose layout comes from an XML skin file).
#pragma once

#include "uilib/core.h"

namespace UiLib {

class UILIB_API CPaintManagerUI {
public:
    CPaintManagerUI();
    ~CPaintManagerUI();
    CPaintManagerUI(const CPaintManagerUI&) = delete;
    CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

    // The module whose directory is the skins' root; once, before any window.
    static void SetInstance(HINSTANCE instance);
    static HINSTANCE GetInstance();
    // The skins' root directory, ending with a separator.
    static CDuiString GetInstancePath();
    // Runs the UI thread's message loop until WM_QUIT.
    static void MessageLoop();

    void Init(HWND hwnd);
    HWND GetPaintWindow() const { return hwnd_; }
    HDC GetPaintDC() const { return paintDc_; }
    HDC GetRenderCore() const { return paintDc_; }  // valid during a paint
    CControlUI* GetRoot() const { return root_.get(); }
    // Takes ownership of the tree.
    bool AttachDialog(CControlUI* root);
    CControlUI* FindControl(const wchar_t* name) const;
    CControlUI* FindControl(POINT pt) const;

    bool SetTimer(CControlUI* control, UINT timerId, UINT elapse);
    bool KillTimer(CControlUI* control, UINT timerId);

    void AddNotifier(INotifyUI* notifier);
    void RemoveNotifier(INotifyUI* notifier);
    void SendNotify(CControlUI* sender, const wchar_t* type, WPARAM wParam = 0, LPARAM lParam = 0);
    void AddMessageFilter(IMessageFilterUI* filter);
    void RemoveMessageFilter(IMessageFilterUI* filter);

    // Skin-wide defaults read from the <Window> element.
    void SetInitSize(int cx, int cy) { initSize_ = {0, 0, cx, cy}; }
    RECT GetInitSize() const { return initSize_; }
    void SetCaptionRect(RECT rc) { caption_ = rc; }
    RECT GetCaptionRect() const { return caption_; }
    // The smallest size the user may give the window ("mininfo"; 0 = none).
    void SetMinInfo(int cx, int cy) { minInfo_ = {0, 0, cx, cy}; }
    RECT GetMinInfo() const { return minInfo_; }
    // Widths of the edges (left, top, right, bottom) by which the user resizes the window.
    void SetSizeBox(RECT rc) { sizeBox_ = rc; }
    RECT GetSizeBox() const { return sizeBox_; }
    // Where a client point falls for the frame (WM_NCHITTEST): an edge of the
    // size box (unless the window is maximised), the caption band (but for its
    // buttons), else HTCLIENT.
    LRESULT HitTest(POINT clientPoint) const;

    // Routes a window message to the control tree (paint, layout, mouse, timers).
    // True when the message was handled; `result` then holds its result.
    bool MessageHandler(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Paints the tree into `hdc` (called by the window's draw handler).
    void Paint(HDC hdc, const RECT& rcPaint);
    void Invalidate(const RECT& rc);

    // Background of the whole client area (the <Window> element's "bkcolor").
    void SetBkColor(DWORD argb) { bkColor_ = argb; }
    // Lays the tree out again soon (a control was added, shown or hidden).
    void NeedUpdate();
    // Layout waits until the window is ready (after its Init()); then lays out at once.
    void SetLayoutReady(bool ready);
    // A control is going away: it stops being hot, captured or a timer owner.
    void ReapObjects(CControlUI* control);
    void KillTimer(CControlUI* control);  // every timer of the control
    // A window's own timer ids stay below this; control timers use ids from here on.
    static constexpr UINT_PTR kFirstControlTimerId = 0xF0000000;

private:
    struct TimerInfo;
    void Layout(bool force);
    void MouseMessage(UINT message, WPARAM wParam, LPARAM lParam);
    DWORD bkColor_ = 0;
    bool needUpdate_ = false;
    bool updateQueued_ = false;
    bool layoutReady_ = false;
    bool trackingMouse_ = false;
    RECT layoutRect_;
    UINT_PTR nextTimerId_ = kFirstControlTimerId;
    HWND hwnd_ = nullptr;
    HDC paintDc_ = nullptr;
    std::unique_ptr<CControlUI> root_;
    std::vector<INotifyUI*> notifiers_;
    std::vector<IMessageFilterUI*> filters_;
    std::vector<std::unique_ptr<TimerInfo>> timers_;
    CControlUI* hot_ = nullptr;
    CControlUI* captured_ = nullptr;
    RECT initSize_;
    RECT caption_;
    RECT sizeBox_;
    RECT minInfo_;
};

class UILIB_API CWindowWnd {
public:
    CWindowWnd();
    virtual ~CWindowWnd();
    CWindowWnd(const CWindowWnd&) = delete;
    CWindowWnd& operator=(const CWindowWnd&) = delete;

    HWND GetHWND() const { return hwnd_; }
    operator HWND() const { return hwnd_; }

    HWND Create(HWND parent, const wchar_t* name, DWORD style, DWORD exStyle, int x = CW_USEDEFAULT,
                int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT, HMENU menu = nullptr);
    void ShowWindow(bool show = true, bool takeFocus = true);
    void CenterWindow();
    void Close(UINT result = 1);
    void SetIcon(UINT resourceId);
    BOOL PostMessageW(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    LRESULT SendMessageW(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

protected:
    virtual const wchar_t* GetWindowClassName() const = 0;
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // After the window is gone; the object may delete itself here.
    virtual void OnFinalMessage(HWND hwnd);

    static LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
};

// A window whose layout comes from an XML skin file: on creation the library
// loads GetSkinFolder() + GetSkinFile(), asks CreateControl for every class it
// does not know, then calls Init().
class UILIB_API IWindowBase : public CWindowWnd,
                              public CNotifyPump,
                              public INotifyUI,
                              public IMessageFilterUI,
                              public IDialogBuilderCallback {
public:
    IWindowBase();
    ~IWindowBase() override;

    void Notify(TNotifyUI& msg) override;
    LRESULT MessageHandler(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    CControlUI* CreateControl(const wchar_t* className) override { (void)className; return nullptr; }
    CPaintManagerUI& GetPaintManager() { return paintManager_; }

protected:
    virtual CDuiString GetSkinFolder() = 0;
    virtual CDuiString GetSkinFile() = 0;
    virtual void Init() {}
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    virtual LRESULT HandleCustomMessage(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
    virtual LRESULT ResponseDefaultKeyEvent(WPARAM wParam);
    void OnFinalMessage(HWND hwnd) override;
    // False when the skin file could not be loaded.
    bool skinLoaded() const { return skinLoaded_; }

    CPaintManagerUI paintManager_;

private:
    bool skinLoaded_ = false;
};

}  // namespace UiLib
