#include "tests/osr/support/fake_browser.h"

namespace qmtest {
namespace {

// What every pointer event carries: where and with which modifiers.
InputEvent PointerEvent(InputEvent::Kind kind, const CefMouseEvent& event) {
    InputEvent e;
    e.kind = kind;
    e.x = event.x;
    e.y = event.y;
    e.modifiers = event.modifiers;
    return e;
}

}  // namespace

void RecordingHost::SendFocusEvent(bool setFocus) {
    InputEvent e;
    e.kind = InputEvent::Focus;
    e.flag = setFocus;
    events.push_back(e);
}

void RecordingHost::SendKeyEvent(const CefKeyEvent& event) {
    InputEvent e;
    e.kind = InputEvent::Key;
    e.key = event;
    e.modifiers = event.modifiers;
    events.push_back(e);
}

void RecordingHost::SendMouseClickEvent(const CefMouseEvent& event, cef_mouse_button_type_t type, bool mouseUp,
                                        int clickCount) {
    InputEvent e = PointerEvent(InputEvent::Click, event);
    e.button = type;
    e.flag = mouseUp;
    e.clickCount = clickCount;
    events.push_back(e);
}

void RecordingHost::SendMouseMoveEvent(const CefMouseEvent& event, bool mouseLeave) {
    InputEvent e = PointerEvent(InputEvent::Move, event);
    e.flag = mouseLeave;
    events.push_back(e);
}

void RecordingHost::SendMouseWheelEvent(const CefMouseEvent& event, int deltaX, int deltaY) {
    InputEvent e = PointerEvent(InputEvent::Wheel, event);
    e.deltaX = deltaX;
    e.deltaY = deltaY;
    events.push_back(e);
}

std::vector<InputEvent> RecordingHost::Of(InputEvent::Kind kind) const {
    std::vector<InputEvent> out;
    for (const InputEvent& e : events)
        if (e.kind == kind) out.push_back(e);
    return out;
}

}  // namespace qmtest
