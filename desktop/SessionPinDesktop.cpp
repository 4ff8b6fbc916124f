// The watcher's desktop on Linux. The other programs' windows and their text fields are found
// through the accessibility bus: toolkits draw their text fields inside the window without
// windows of their own, so the X server knows only the top-level window, while every toolkit
// that serves assistive tools lists its fields there. The focus and the keystrokes go through
// the X server (XTEST), as a keyboard's would.
#include "desktop/PinDesktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <atspi/atspi.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace {

// A dead or hanging program must not hold the watcher up for long.
constexpr int kBusTimeoutMs = 1000;
constexpr int kBusStartupTimeoutMs = 5000;
// Bounds of the walk through one window's controls.
constexpr int kMaxFieldDepth = 12;
constexpr int kMaxFieldNodes = 2000;
constexpr int kMaxDispatches = 200;

struct GErrorSlot {
    GError* error = nullptr;
    ~GErrorSlot() { g_clear_error(&error); }
    GError** operator&() {
        g_clear_error(&error);
        return &error;
    }
    bool Failed() const { return error != nullptr; }
};

std::shared_ptr<void> Own(AtspiAccessible* object) {
    return std::shared_ptr<void>(object, [](void* p) {
        if (p != nullptr) {
            g_object_unref(p);
        }
    });
}

std::string IdOf(AtspiAccessible* object) {
    const auto* base = reinterpret_cast<AtspiObject*>(object);
    std::string id =
        base->app != nullptr && base->app->bus_name != nullptr ? base->app->bus_name : "";
    id += ':';
    id += base->path != nullptr ? base->path : "";
    return id;
}

std::string NameOf(AtspiAccessible* object) {
    GErrorSlot error;
    gchar* name = atspi_accessible_get_name(object, &error);
    std::string text = name != nullptr ? name : "";
    g_free(name);
    return text;
}

bool IsEditableField(AtspiAccessible* object) {
    GErrorSlot error;
    const AtspiRole role = atspi_accessible_get_role(object, &error);
    if (role != ATSPI_ROLE_PASSWORD_TEXT && role != ATSPI_ROLE_TEXT && role != ATSPI_ROLE_ENTRY) {
        return false;
    }
    AtspiStateSet* states = atspi_accessible_get_state_set(object);
    const bool editable =
        states != nullptr && atspi_state_set_contains(states, ATSPI_STATE_EDITABLE);
    if (states != nullptr) {
        g_object_unref(states);
    }
    return editable;
}

// The accessibility library is set up once per process, its bus connection served by a main
// context of its own that only the watcher iterates (the program's main loop must not serve it
// from another thread).
GMainContext* AccessibilityContext() {
    static GMainContext* const context = [] {
        if (atspi_init() > 1) {
            return static_cast<GMainContext*>(nullptr);
        }
        atspi_set_timeout(kBusTimeoutMs, kBusStartupTimeoutMs);
        GMainContext* own = g_main_context_new();
        atspi_set_main_context(own);
        return own;
    }();
    return context;
}

class CSessionPinDesktop : public CPinDesktop {
public:
    CSessionPinDesktop(Display* display, GMainContext* context)
        : m_display(display), m_context(context) {}
    ~CSessionPinDesktop() override { XCloseDisplay(m_display); }
    CSessionPinDesktop(const CSessionPinDesktop&) = delete;
    CSessionPinDesktop& operator=(const CSessionPinDesktop&) = delete;

    std::vector<Item> TopLevelWindows() override {
        std::vector<Item> windows;
        AtspiAccessible* desktop = atspi_get_desktop(0);
        if (desktop == nullptr) {
            return windows;
        }
        const auto desktopRef = Own(desktop);
        GErrorSlot error;
        const gint apps = atspi_accessible_get_child_count(desktop, &error);
        for (gint i = 0; i < apps; ++i) {
            AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, &error);
            if (app == nullptr) {
                continue;
            }
            const auto appRef = Own(app);
            // This program's own windows are never the system's dialog, and a question to
            // its own bridge would wait for the user-interface thread.
            const long process = atspi_accessible_get_process_id(app, &error);
            if (error.Failed() || process == static_cast<long>(getpid())) {
                continue;
            }
            const gint count = atspi_accessible_get_child_count(app, &error);
            for (gint j = 0; j < count; ++j) {
                AtspiAccessible* window = atspi_accessible_get_child_at_index(app, j, &error);
                if (window != nullptr) {
                    windows.push_back({IdOf(window), NameOf(window), process, Own(window)});
                }
            }
        }
        return windows;
    }

    Item FirstTextField(const Item& window) override {
        auto* root = static_cast<AtspiAccessible*>(window.object.get());
        if (root == nullptr) {
            return {};
        }
        int budget = kMaxFieldNodes;
        return FindField(root, 0, budget);
    }

    Item FocusedWindow() override {
        ::Window focus = None;
        int revert = 0;
        XGetInputFocus(m_display, &focus, &revert);
        return {"x:" + std::to_string(focus), {}, 0, nullptr};
    }

    bool SetForegroundWindow(const Item& window) override {
        const ::Window target = FindXWindow(window.title, window.process);
        if (target == None) {
            return false;
        }
        XRaiseWindow(m_display, target);
        // A window manager decides about the focus itself; without one the server does.
        XEvent activate{};
        activate.xclient.type = ClientMessage;
        activate.xclient.window = target;
        activate.xclient.message_type = XInternAtom(m_display, "_NET_ACTIVE_WINDOW", False);
        activate.xclient.format = 32;
        activate.xclient.data.l[0] = 2; // a pager's request: honoured at once
        XSendEvent(m_display, DefaultRootWindow(m_display), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &activate);
        XSetInputFocus(m_display, target, RevertToParent, CurrentTime);
        XSync(m_display, False);
        return true;
    }

    bool SetFocus(const Item& field) override {
        auto* object = static_cast<AtspiAccessible*>(field.object.get());
        AtspiComponent* component =
            object != nullptr ? atspi_accessible_get_component_iface(object) : nullptr;
        if (component == nullptr) {
            return false;
        }
        GErrorSlot error;
        const bool focused = atspi_component_grab_focus(component, &error) != FALSE;
        g_object_unref(component);
        return focused;
    }

    void RestoreFocus(const Item& window) override {
        if (window.id.rfind("x:", 0) != 0) {
            return;
        }
        const ::Window previous = std::stoul(window.id.substr(2));
        if (previous != None) {
            XSetInputFocus(m_display, previous, RevertToParent, CurrentTime);
            XSync(m_display, False);
        }
    }

    bool TypeKey(char key) override {
        const KeySym symbol = key == '\r' ? XK_Return : static_cast<KeySym>(key);
        const KeyCode code = XKeysymToKeycode(m_display, symbol);
        if (code == 0) {
            return false;
        }
        XTestFakeKeyEvent(m_display, code, True, CurrentTime);
        XTestFakeKeyEvent(m_display, code, False, CurrentTime);
        XSync(m_display, False);
        return true;
    }

    void DispatchPending() override {
        for (int i = 0; i < kMaxDispatches && g_main_context_iteration(m_context, FALSE); ++i) {
        }
    }

private:
    Item FindField(AtspiAccessible* node, int depth, int& budget) {
        if (--budget < 0 || depth > kMaxFieldDepth) {
            return {};
        }
        GErrorSlot error;
        const gint count = atspi_accessible_get_child_count(node, &error);
        for (gint i = 0; i < count && budget >= 0; ++i) {
            AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, &error);
            if (child == nullptr) {
                continue;
            }
            auto childRef = Own(child);
            if (IsEditableField(child)) {
                return {IdOf(child), NameOf(child), 0, std::move(childRef)};
            }
            Item found = FindField(child, depth + 1, budget);
            if (!found.id.empty()) {
                return found;
            }
        }
        return {};
    }

    std::string WindowTitle(::Window window) {
        std::string title;
        Atom type = None;
        int format = 0;
        unsigned long items = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        const Atom netName = XInternAtom(m_display, "_NET_WM_NAME", False);
        const Atom utf8 = XInternAtom(m_display, "UTF8_STRING", False);
        if (XGetWindowProperty(m_display, window, netName, 0, 1024, False, utf8, &type, &format,
                               &items, &after, &data) == Success &&
            data != nullptr && format == 8) {
            title.assign(reinterpret_cast<const char*>(data), items);
        }
        if (data != nullptr) {
            XFree(data);
        }
        if (title.empty()) {
            char* name = nullptr;
            if (XFetchName(m_display, window, &name) != 0 && name != nullptr) {
                title = name;
                XFree(name);
            }
        }
        return title;
    }

    long WindowProcess(::Window window) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        long process = 0;
        if (XGetWindowProperty(m_display, window, XInternAtom(m_display, "_NET_WM_PID", False), 0,
                               1, False, XA_CARDINAL, &type, &format, &items, &after,
                               &data) == Success &&
            data != nullptr && format == 32 && items == 1) {
            process = *reinterpret_cast<const long*>(data);
        }
        if (data != nullptr) {
            XFree(data);
        }
        return process;
    }

    // The viewable top-level X window of the program with this title (a window manager's
    // frame is looked through, one level down).
    ::Window FindXWindow(const std::string& title, long process) {
        return FindXWindowBelow(DefaultRootWindow(m_display), title, process, 2);
    }

    ::Window FindXWindowBelow(::Window parent, const std::string& title, long process, int levels) {
        ::Window root = None;
        ::Window parentOut = None;
        ::Window* children = nullptr;
        unsigned count = 0;
        if (XQueryTree(m_display, parent, &root, &parentOut, &children, &count) == 0) {
            return None;
        }
        ::Window found = None;
        for (unsigned i = count; i-- > 0 && found == None;) {
            XWindowAttributes attributes{};
            if (XGetWindowAttributes(m_display, children[i], &attributes) == 0 ||
                attributes.map_state != IsViewable) {
                continue;
            }
            if (WindowTitle(children[i]) == title &&
                (process == 0 || WindowProcess(children[i]) == process)) {
                found = children[i];
            } else if (levels > 1) {
                found = FindXWindowBelow(children[i], title, process, levels - 1);
            }
        }
        if (children != nullptr) {
            XFree(children);
        }
        return found;
    }

    Display* m_display;
    GMainContext* m_context;
};

// A window closing under a request is no reason to end the program.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

} // namespace

std::unique_ptr<CPinDesktop> OpenSessionPinDesktop() {
    static std::once_flag handlerSet;
    std::call_once(handlerSet, [] { XSetErrorHandler(IgnoreXError); });
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return nullptr;
    }
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    GMainContext* context = AccessibilityContext();
    if (context == nullptr || !XTestQueryExtension(display, &event, &error, &major, &minor)) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::make_unique<CSessionPinDesktop>(display, context);
}
