#include "tests/osr/support/fake_browser.h"

namespace qmtest {

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
    InputEvent e;
    e.kind = InputEvent::Click;
    e.x = event.x;
    e.y = event.y;
    e.modifiers = event.modifiers;
    e.button = type;
    e.flag = mouseUp;
    e.clickCount = clickCount;
    events.push_back(e);
}

void RecordingHost::SendMouseMoveEvent(const CefMouseEvent& event, bool mouseLeave) {
    InputEvent e;
    e.kind = InputEvent::Move;
    e.x = event.x;
    e.y = event.y;
    e.modifiers = event.modifiers;
    e.flag = mouseLeave;
    events.push_back(e);
}

void RecordingHost::SendMouseWheelEvent(const CefMouseEvent& event, int deltaX, int deltaY) {
    InputEvent e;
    e.kind = InputEvent::Wheel;
    e.x = event.x;
    e.y = event.y;
    e.modifiers = event.modifiers;
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
