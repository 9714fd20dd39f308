#include "accessible_controls.h"

#include <gtk/gtk-a11y.h>
#include <gtk/gtk.h>

#include <map>
#include <string>
#include <vector>

#include "runtime.h"
#include "uilib/window.h"
#include "window_registry.h"

namespace {

struct QmControlProxy {
    GtkWidget parent;
    // Reached by the keyboard (Tab or an arrow) or given the focus on
    // purpose, so Enter and Space are meant for it. The toolkit also hands a
    // stand-in the focus when the window shows; keys the user types into a
    // windowless page then pass through it and must not press a button.
    gboolean armed;
};
struct QmControlProxyClass {
    GtkWidgetClass parentClass;
};

struct QmControlAccessible {
    GtkWidgetAccessible parent;
};
struct QmControlAccessibleClass {
    GtkWidgetAccessibleClass parentClass;
};

void ActivateProxy(GtkWidget* proxy);

gboolean qm_control_accessible_do_action(AtkAction* action, gint index) {
    GtkWidget* widget = gtk_accessible_get_widget(GTK_ACCESSIBLE(action));
    if (index != 0 || !widget || !gtk_widget_is_sensitive(widget)) return FALSE;
    ActivateProxy(widget);
    return TRUE;
}
gint qm_control_accessible_n_actions(AtkAction*) { return 1; }
const gchar* qm_control_accessible_action_name(AtkAction*, gint index) { return index == 0 ? "click" : nullptr; }
const gchar* qm_control_accessible_action_description(AtkAction*, gint index) {
    return index == 0 ? "Presses the button" : nullptr;
}

void qm_control_accessible_action_init(AtkActionIface* iface) {
    iface->do_action = qm_control_accessible_do_action;
    iface->get_n_actions = qm_control_accessible_n_actions;
    iface->get_name = qm_control_accessible_action_name;
    iface->get_description = qm_control_accessible_action_description;
}

}  // namespace

G_DEFINE_TYPE_WITH_CODE(QmControlAccessible, qm_control_accessible, GTK_TYPE_WIDGET_ACCESSIBLE,
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_ACTION, qm_control_accessible_action_init))

static void qm_control_accessible_class_init(QmControlAccessibleClass*) {}
static void qm_control_accessible_init(QmControlAccessible*) {}

G_DEFINE_TYPE(QmControlProxy, qm_control_proxy, GTK_TYPE_WIDGET)

static void qm_control_proxy_preferred_size(GtkWidget*, gint* minimum, gint* natural) {
    *minimum = 0;
    *natural = 0;
}

static gboolean qm_control_proxy_draw(GtkWidget* widget, cairo_t* cr) {
    if (!gtk_widget_has_visible_focus(widget)) return FALSE;
    int width = gtk_widget_get_allocated_width(widget);
    int height = gtk_widget_get_allocated_height(widget);
    gtk_render_focus(gtk_widget_get_style_context(widget), cr, 2, 2, width - 4, height - 4);
    return FALSE;
}

static gboolean qm_control_proxy_focus_changed(GtkWidget* widget, GdkEventFocus*) {
    // Another widget of the window took the focus (not another window).
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
    if (GTK_IS_WINDOW(toplevel) && gtk_window_get_focus(GTK_WINDOW(toplevel)) != widget)
        reinterpret_cast<QmControlProxy*>(widget)->armed = FALSE;
    gtk_widget_queue_draw(widget);
    return FALSE;
}

// Focus given on purpose (an assistive technology, the program): keys are meant for it.
static void qm_control_proxy_grab_focus(GtkWidget* widget) {
    GTK_WIDGET_CLASS(qm_control_proxy_parent_class)->grab_focus(widget);
    reinterpret_cast<QmControlProxy*>(widget)->armed = TRUE;
}

static bool NavigationKeyIsCurrent() {
    GdkEvent* event = gtk_get_current_event();
    if (!event) return false;
    bool navigation = false;
    if (event->type == GDK_KEY_PRESS) {
        switch (event->key.keyval) {
        case GDK_KEY_Tab:
        case GDK_KEY_ISO_Left_Tab:
        case GDK_KEY_KP_Tab:
        case GDK_KEY_Left:
        case GDK_KEY_Right:
        case GDK_KEY_Up:
        case GDK_KEY_Down:
            navigation = true;
            break;
        default:
            break;
        }
    }
    gdk_event_free(event);
    return navigation;
}

// Focus moved by the toolkit (Tab, or the first focus of a window being shown):
// only the keyboard's own moves count.
static gboolean qm_control_proxy_focus(GtkWidget* widget, GtkDirectionType direction) {
    gboolean moved = GTK_WIDGET_CLASS(qm_control_proxy_parent_class)->focus(widget, direction);
    if (moved && gtk_widget_has_focus(widget))
        reinterpret_cast<QmControlProxy*>(widget)->armed = NavigationKeyIsCurrent();
    return moved;
}

static gboolean qm_control_proxy_key_press(GtkWidget* widget, GdkEventKey* event) {
    if (!reinterpret_cast<QmControlProxy*>(widget)->armed)
        return GTK_WIDGET_CLASS(qm_control_proxy_parent_class)->key_press_event(widget, event);
    switch (event->keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
    case GDK_KEY_space:
    case GDK_KEY_KP_Space:
        ActivateProxy(widget);
        return TRUE;
    default:
        return GTK_WIDGET_CLASS(qm_control_proxy_parent_class)->key_press_event(widget, event);
    }
}

static void qm_control_proxy_class_init(QmControlProxyClass* klass) {
    GtkWidgetClass* widgetClass = GTK_WIDGET_CLASS(klass);
    widgetClass->get_preferred_width = qm_control_proxy_preferred_size;
    widgetClass->get_preferred_height = qm_control_proxy_preferred_size;
    widgetClass->draw = qm_control_proxy_draw;
    widgetClass->focus_in_event = qm_control_proxy_focus_changed;
    widgetClass->focus_out_event = qm_control_proxy_focus_changed;
    widgetClass->key_press_event = qm_control_proxy_key_press;
    widgetClass->focus = qm_control_proxy_focus;
    widgetClass->grab_focus = qm_control_proxy_grab_focus;
    gtk_widget_class_set_accessible_type(widgetClass, qm_control_accessible_get_type());
}

static void qm_control_proxy_init(QmControlProxy* self) {
    GtkWidget* widget = GTK_WIDGET(self);
    gtk_widget_set_has_window(widget, FALSE);
    gtk_widget_set_can_focus(widget, TRUE);
    gtk_widget_set_focus_on_click(widget, FALSE);
}

namespace UiLib {
namespace detail {
namespace {

struct Binding {
    CPaintManagerUI* manager = nullptr;
    CControlUI* control = nullptr;
};

// Stand-ins that are alive, by widget. A stand-in leaves it when it is
// destroyed (with its window, or here).
std::map<GtkWidget*, Binding>& Bindings() {
    static auto* bindings = new std::map<GtkWidget*, Binding>();  // lives until the process ends
    return *bindings;
}

void OnProxyDestroyed(GtkWidget* widget, gpointer) { Bindings().erase(widget); }

gboolean PressLater(gpointer data) {
    auto* widget = static_cast<GtkWidget*>(data);
    auto it = Bindings().find(widget);
    // Gone meanwhile (its window closed): nothing to press.
    if (it != Bindings().end()) {
        Binding binding = it->second;
        binding.manager->SendNotify(binding.control, L"click");
    }
    g_object_unref(widget);
    return G_SOURCE_REMOVE;
}

GtkWidget* FindProxy(CPaintManagerUI* manager, CControlUI* control) {
    for (auto& entry : Bindings())
        if (entry.second.manager == manager && entry.second.control == control) return entry.first;
    return nullptr;
}

bool Shown(CControlUI* control) {
    for (CControlUI* c = control; c; c = c->GetParent())
        if (!c->IsVisible()) return false;
    return !IsRectEmpty(control->GetPos());
}

void CollectButtons(CControlUI* control, std::vector<CControlUI*>& out) {
    if (!control || !control->IsVisible()) return;
    if (dynamic_cast<CButtonUI*>(control) && Shown(control)) out.push_back(control);
    for (int i = 0; i < control->GetCount(); ++i) CollectButtons(control->GetItemAt(i), out);
}

std::string NameOf(CControlUI* control) {
    std::wstring name = control->GetToolTip().str();
    if (name.empty()) name = control->GetText().str();
    if (name.empty()) name = control->GetName().str();
    return ToUtf8(name);
}

void Destroy(GtkWidget* widget) {
    Bindings().erase(widget);
    gtk_widget_destroy(widget);
}

}  // namespace

}  // namespace detail
}  // namespace UiLib

namespace {
// The press runs from the main loop: an assistive technology's request
// returns first, and a button that closes its window finds nothing torn down
// under it.
void ActivateProxy(GtkWidget* proxy) { g_idle_add(&UiLib::detail::PressLater, g_object_ref(proxy)); }
}  // namespace

namespace UiLib {
namespace detail {

void SyncAccessibleControls(CPaintManagerUI* manager, HWND hwnd) {
    UILIB_ASSERT_UI_THREAD();
    WndObject* window = FindWindowObject(hwnd);
    if (!manager || !window || window->kind != WndKind::TopLevel || !window->fixed) return;
    bool menu = (window->style & WS_POPUP) && (window->exStyle & WS_EX_TOOLWINDOW);
    std::vector<CControlUI*> buttons;
    CollectButtons(manager->GetRoot(), buttons);
    std::vector<GtkWidget*> keep;
    for (CControlUI* control : buttons) {
        GtkWidget* proxy = FindProxy(manager, control);
        if (!proxy) {
            proxy = GTK_WIDGET(g_object_new(qm_control_proxy_get_type(), nullptr));
            gtk_fixed_put(GTK_FIXED(window->fixed), proxy, 0, 0);
            Bindings()[proxy] = Binding{manager, control};
            g_signal_connect(proxy, "destroy", G_CALLBACK(OnProxyDestroyed), nullptr);
            atk_object_set_role(gtk_widget_get_accessible(proxy), menu ? ATK_ROLE_MENU_ITEM : ATK_ROLE_PUSH_BUTTON);
        }
        const RECT& pos = control->GetPos();
        gtk_fixed_move(GTK_FIXED(window->fixed), proxy, pos.left, pos.top);
        gtk_widget_set_size_request(proxy, pos.right - pos.left, pos.bottom - pos.top);
        std::string name = NameOf(control);
        AtkObject* accessible = gtk_widget_get_accessible(proxy);
        const char* current = atk_object_get_name(accessible);
        if (!current || name != current) atk_object_set_name(accessible, name.c_str());
        std::string tip = ToUtf8(control->GetToolTip().str());
        gchar* currentTip = gtk_widget_get_tooltip_text(proxy);
        if ((currentTip ? std::string(currentTip) : std::string()) != tip)
            gtk_widget_set_tooltip_text(proxy, tip.empty() ? nullptr : tip.c_str());
        g_free(currentTip);
        gtk_widget_show(proxy);
        keep.push_back(proxy);
    }
    std::vector<GtkWidget*> stale;
    for (auto& entry : Bindings()) {
        if (entry.second.manager != manager) continue;
        bool kept = false;
        for (GtkWidget* w : keep) kept = kept || w == entry.first;
        if (!kept) stale.push_back(entry.first);
    }
    for (GtkWidget* widget : stale) Destroy(widget);
}

void ReleaseControlFocus(GtkWidget* toplevel) {
    UILIB_ASSERT_UI_THREAD();
    if (!GTK_IS_WINDOW(toplevel)) return;
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(toplevel));
    if (focus && Bindings().count(focus)) gtk_window_set_focus(GTK_WINDOW(toplevel), nullptr);
}

void ForgetAccessibleControl(CPaintManagerUI* manager, CControlUI* control) {
    UILIB_ASSERT_UI_THREAD();
    if (GtkWidget* proxy = FindProxy(manager, control)) Destroy(proxy);
}

void ForgetAccessibleControls(CPaintManagerUI* manager) {
    UILIB_ASSERT_UI_THREAD();
    std::vector<GtkWidget*> mine;
    for (auto& entry : Bindings())
        if (entry.second.manager == manager) mine.push_back(entry.first);
    for (GtkWidget* widget : mine) Destroy(widget);
}

}  // namespace detail
}  // namespace UiLib
