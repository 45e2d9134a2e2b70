// Finds and raises the game's window on an X11 desktop. libX11 is loaded at run time, so the
// core needs no X11 headers or libraries to build, and a machine without a display simply has no
// game window.
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <vector>

#include "platform/GameLauncher.h"

namespace velt
{

namespace
{

// The few X11 types used here, laid out as Xlib declares them.
struct Display;
using Window = unsigned long;
using Atom = unsigned long;

struct XClientMessageEvent
{
    int type;
    unsigned long serial;
    int send_event;
    Display* display;
    Window window;
    Atom message_type;
    int format;
    union {
        char b[20];
        short s[10];
        long l[5];
    } data;
};

union XEvent {
    int type;
    XClientMessageEvent xclient;
    long pad[24];
};

constexpr int kClientMessage = 33;
constexpr long kSubstructureNotifyMask = 1L << 19;
constexpr long kSubstructureRedirectMask = 1L << 20;
constexpr Atom kAnyPropertyType = 0;
constexpr int kSuccess = 0;

class CXlib
{
public:
    CXlib()
    {
        m_library = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (m_library == nullptr)
            return;
        m_ok = Load(OpenDisplay, "XOpenDisplay") && Load(CloseDisplay, "XCloseDisplay") &&
               Load(DefaultRootWindow, "XDefaultRootWindow") && Load(InternAtom, "XInternAtom") &&
               Load(GetWindowProperty, "XGetWindowProperty") && Load(Free, "XFree") &&
               Load(FetchName, "XFetchName") && Load(QueryTree, "XQueryTree") &&
               Load(MapRaised, "XMapRaised") && Load(SendEvent, "XSendEvent") &&
               Load(Flush, "XFlush") && Load(SetErrorHandler, "XSetErrorHandler") &&
               Load(Sync, "XSync");
    }
    ~CXlib()
    {
        if (m_library != nullptr)
            ::dlclose(m_library);
    }
    bool Ok() const { return m_ok; }

    Display* (*OpenDisplay)(const char*) = nullptr;
    int (*CloseDisplay)(Display*) = nullptr;
    Window (*DefaultRootWindow)(Display*) = nullptr;
    Atom (*InternAtom)(Display*, const char*, int) = nullptr;
    int (*GetWindowProperty)(Display*, Window, Atom, long, long, int, Atom, Atom*, int*,
                             unsigned long*, unsigned long*, unsigned char**) = nullptr;
    int (*Free)(void*) = nullptr;
    int (*FetchName)(Display*, Window, char**) = nullptr;
    int (*QueryTree)(Display*, Window, Window*, Window*, Window**, unsigned int*) = nullptr;
    int (*MapRaised)(Display*, Window) = nullptr;
    int (*SendEvent)(Display*, Window, int, long, XEvent*) = nullptr;
    int (*Flush)(Display*) = nullptr;
    void* (*SetErrorHandler)(int (*)(Display*, void*)) = nullptr;
    int (*Sync)(Display*, int) = nullptr;

private:
    template <typename F> bool Load(F& function, const char* name)
    {
        function = reinterpret_cast<F>(::dlsym(m_library, name));
        return function != nullptr;
    }

    void* m_library = nullptr;
    bool m_ok = false;
};

// A window that vanishes between listing and asking is no reason to end the client.
int IgnoreXError(Display*, void*) { return 0; }

class CX11GameWindow final : public IGameWindow
{
public:
    bool RaiseWindowTitled(const std::string& title) override
    {
        static CXlib xlib;
        if (!xlib.Ok())
            return false;
        Display* display = xlib.OpenDisplay(nullptr);
        if (display == nullptr)
            return false;
        auto* previous = xlib.SetErrorHandler(&IgnoreXError);
        const Window root = xlib.DefaultRootWindow(display);
        bool raised = false;
        for (Window window : TopLevelWindows(xlib, display, root))
        {
            if (Title(xlib, display, window) != title)
                continue;
            Activate(xlib, display, root, window);
            raised = true;
            break;
        }
        xlib.Sync(display, 0);
        xlib.SetErrorHandler(reinterpret_cast<int (*)(Display*, void*)>(previous));
        xlib.CloseDisplay(display);
        return raised;
    }

private:
    // Reads a window property by name and hands its items to the reader; nothing when the
    // display has no such atom or the window no such property.
    template <typename Reader>
    static void ReadProperty(CXlib& x, Display* display, Window window, const char* name,
                             long maxLength, Reader&& reader)
    {
        const Atom atom = x.InternAtom(display, name, 1);
        if (atom == 0)
            return;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (x.GetWindowProperty(display, window, atom, 0, maxLength, 0, kAnyPropertyType, &type,
                                &format, &count, &after, &data) != kSuccess ||
            data == nullptr)
            return;
        reader(format, data, count);
        x.Free(data);
    }

    static std::vector<Window> TopLevelWindows(CXlib& x, Display* display, Window root)
    {
        std::vector<Window> windows;
        // A window manager lists the clients (EWMH); without one the root's children are them.
        ReadProperty(x, display, root, "_NET_CLIENT_LIST", 4096,
                     [&](int format, const unsigned char* data, unsigned long count) {
                         if (format != 32)
                             return;
                         const auto* ids = reinterpret_cast<const unsigned long*>(data);
                         windows.assign(ids, ids + count);
                     });
        if (windows.empty())
        {
            Window rootReturn = 0, parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            if (x.QueryTree(display, root, &rootReturn, &parent, &children, &count) != 0 &&
                children != nullptr)
            {
                windows.assign(children, children + count);
                x.Free(children);
            }
        }
        return windows;
    }

    static std::string Title(CXlib& x, Display* display, Window window)
    {
        std::string title;
        ReadProperty(x, display, window, "_NET_WM_NAME", 1024,
                     [&](int format, const unsigned char* data, unsigned long count) {
                         if (format == 8)
                             title.assign(reinterpret_cast<const char*>(data), count);
                     });
        if (!title.empty())
            return title;
        char* name = nullptr;
        if (x.FetchName(display, window, &name) != 0 && name != nullptr)
        {
            title = name;
            x.Free(name);
        }
        return title;
    }

    static void Activate(CXlib& x, Display* display, Window root, Window window)
    {
        // Mapping restores a minimised window; the EWMH request asks the window manager to
        // give it the focus and put it on top.
        x.MapRaised(display, window);
        const Atom active = x.InternAtom(display, "_NET_ACTIVE_WINDOW", 1);
        if (active != 0)
        {
            XEvent event;
            std::memset(&event, 0, sizeof event);
            event.xclient.type = kClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = active;
            event.xclient.format = 32;
            event.xclient.data.l[0] = 1; // from a normal application
            x.SendEvent(display, root, 0, kSubstructureRedirectMask | kSubstructureNotifyMask,
                        &event);
        }
        x.Flush(display);
    }
};

} // namespace

IGameWindow& SystemGameWindow()
{
    static CX11GameWindow window;
    return window;
}

} // namespace velt
