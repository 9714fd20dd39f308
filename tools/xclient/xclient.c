/* Plays, for tests, the parts that other X clients play towards the client:
     qm_xclient close WINDOW        asks WINDOW to close the way a window manager
                                    does for Alt+F4 or its close button
                                    (WM_PROTOCOLS / WM_DELETE_WINDOW)
     qm_xclient drop X Y URI        drags URI (as text/uri-list and text) to the
                                    screen point X,Y and drops it there over XDND,
                                    as a file manager or a browser does
   "drop" prints what the target answered, one fact a line:
     target none | target 0x...     the XDND-aware window under the point
     status accept=0|1 | status none
     finished success=0|1 | finished none | left
   and exits 0 once the exchange is over, whatever the target decided.    */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static Display* d;

static Atom A(const char* name) { return XInternAtom(d, name, False); }

static long NowMs(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

/* A server timestamp, as a window manager has one from the user's input. */
static Time ServerTime(Window w) {
    XSelectInput(d, w, PropertyChangeMask);
    unsigned char zero = 0;
    XChangeProperty(d, w, A("QM_XCLIENT_TIME"), XA_STRING, 8, PropModeReplace, &zero, 0);
    XEvent ev;
    XWindowEvent(d, w, PropertyChangeMask, &ev);
    return ev.xproperty.time;
}

static int HasProtocol(Window w, Atom protocol) {
    Atom* list = NULL;
    int count = 0, found = 0;
    if (XGetWMProtocols(d, w, &list, &count)) {
        for (int i = 0; i < count; ++i) found = found || list[i] == protocol;
        XFree(list);
    }
    return found;
}

static int Close(Window target) {
    Atom deleteWindow = A("WM_DELETE_WINDOW");
    if (!HasProtocol(target, deleteWindow)) {
        fprintf(stderr, "qm_xclient: window 0x%lx does not take WM_DELETE_WINDOW\n", target);
        return 1;
    }
    Window helper = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XEvent ev;
    memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = target;
    ev.xclient.message_type = A("WM_PROTOCOLS");
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = (long)deleteWindow;
    ev.xclient.data.l[1] = (long)ServerTime(helper);
    XSendEvent(d, target, False, NoEventMask, &ev);
    XSync(d, False);
    return 0;
}

/* The XDND-aware window under a screen point (and its protocol version). */
static Window AwareWindowAt(int x, int y, long* version) {
    Window root = DefaultRootWindow(d), parent = root, child = None;
    int cx, cy;
    while (XTranslateCoordinates(d, root, parent, x, y, &cx, &cy, &child) && child != None) {
        Atom type;
        int format;
        unsigned long count, rest;
        unsigned char* data = NULL;
        if (XGetWindowProperty(d, child, A("XdndAware"), 0, 1, False, XA_ATOM, &type, &format, &count, &rest,
                               &data) == Success &&
            type == XA_ATOM && count == 1) {
            *version = *(long*)data;
            XFree(data);
            return child;
        }
        if (data) XFree(data);
        parent = child;
    }
    return None;
}

static void SendXdnd(Window target, const char* message, long l0, long l1, long l2, long l3, long l4) {
    XEvent ev;
    memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = target;
    ev.xclient.message_type = A(message);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = l0;
    ev.xclient.data.l[1] = l1;
    ev.xclient.data.l[2] = l2;
    ev.xclient.data.l[3] = l3;
    ev.xclient.data.l[4] = l4;
    XSendEvent(d, target, False, NoEventMask, &ev);
    XFlush(d);
}

static const char* g_uri;

/* Hands the dragged text to whoever asks for the drag's selection. */
static void AnswerSelection(const XSelectionRequestEvent* request) {
    Atom targets[] = {A("TARGETS"), A("text/uri-list"), A("text/plain;charset=utf-8"), A("UTF8_STRING"),
                      A("text/plain")};
    XEvent reply;
    memset(&reply, 0, sizeof reply);
    reply.xselection.type = SelectionNotify;
    reply.xselection.requestor = request->requestor;
    reply.xselection.selection = request->selection;
    reply.xselection.target = request->target;
    reply.xselection.time = request->time;
    reply.xselection.property = request->property != None ? request->property : request->target;
    if (request->target == targets[0]) {
        XChangeProperty(d, request->requestor, reply.xselection.property, XA_ATOM, 32, PropModeReplace,
                        (unsigned char*)targets, (int)(sizeof targets / sizeof targets[0]));
    } else if (request->target == targets[1]) {
        char list[4096];
        snprintf(list, sizeof list, "%s\r\n", g_uri);
        XChangeProperty(d, request->requestor, reply.xselection.property, request->target, 8, PropModeReplace,
                        (unsigned char*)list, (int)strlen(list));
    } else if (request->target == targets[2] || request->target == targets[3] || request->target == targets[4]) {
        XChangeProperty(d, request->requestor, reply.xselection.property, request->target, 8, PropModeReplace,
                        (const unsigned char*)g_uri, (int)strlen(g_uri));
    } else {
        reply.xselection.property = None;
    }
    XSendEvent(d, request->requestor, False, NoEventMask, &reply);
    XFlush(d);
}

/* Waits up to `ms` for the XDND message `name` to `source`, answering
   selection requests meanwhile; fills `out` and returns 1 when it came. */
static int WaitXdnd(Window source, const char* name, int ms, XClientMessageEvent* out) {
    Atom wanted = A(name);
    long deadline = NowMs() + ms;
    for (;;) {
        while (XPending(d)) {
            XEvent ev;
            XNextEvent(d, &ev);
            if (ev.type == SelectionRequest) {
                AnswerSelection(&ev.xselectionrequest);
            } else if (ev.type == ClientMessage && ev.xclient.window == source && ev.xclient.message_type == wanted) {
                *out = ev.xclient;
                return 1;
            }
        }
        long left = deadline - NowMs();
        if (left <= 0) return 0;
        struct pollfd fd = {ConnectionNumber(d), POLLIN, 0};
        poll(&fd, 1, (int)left);
    }
}

static int Drop(int x, int y, const char* uri) {
    g_uri = uri;
    long version = 0;
    Window target = AwareWindowAt(x, y, &version);
    if (target == None) {
        printf("target none\n");
        return 0;
    }
    printf("target 0x%lx\n", target);
    if (version > 5) version = 5;
    Window source = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    Time time = ServerTime(source);
    XSetSelectionOwner(d, A("XdndSelection"), source, time);
    SendXdnd(target, "XdndEnter", (long)source, version << 24, (long)A("text/uri-list"),
             (long)A("text/plain;charset=utf-8"), (long)A("UTF8_STRING"));
    SendXdnd(target, "XdndPosition", (long)source, 0, ((long)x << 16) | (y & 0xFFFF), (long)time,
             (long)A("XdndActionCopy"));
    XClientMessageEvent status;
    if (!WaitXdnd(source, "XdndStatus", 10000, &status)) {
        printf("status none\n");
        SendXdnd(target, "XdndLeave", (long)source, 0, 0, 0, 0);
        XSync(d, False);
        return 0;
    }
    int accepted = (status.data.l[1] & 1) != 0;
    printf("status accept=%d\n", accepted);
    if (!accepted) {
        /* A target that refused gets no drop: the drag leaves, as users' drags do. */
        SendXdnd(target, "XdndLeave", (long)source, 0, 0, 0, 0);
        printf("left\n");
        XSync(d, False);
        return 0;
    }
    SendXdnd(target, "XdndDrop", (long)source, 0, (long)time, 0, 0);
    XClientMessageEvent finished;
    if (WaitXdnd(source, "XdndFinished", 10000, &finished)) {
        printf("finished success=%d\n", (finished.data.l[1] & 1) != 0);
    } else {
        printf("finished none\n");
    }
    XSync(d, False);
    return 0;
}

int main(int argc, char** argv) {
    setvbuf(stdout, NULL, _IOLBF, 0);
    d = XOpenDisplay(NULL);
    if (!d) {
        fprintf(stderr, "qm_xclient: no display\n");
        return 1;
    }
    int code = 2;
    if (argc == 3 && strcmp(argv[1], "close") == 0) {
        code = Close((Window)strtoul(argv[2], NULL, 0));
    } else if (argc == 5 && strcmp(argv[1], "drop") == 0) {
        code = Drop(atoi(argv[2]), atoi(argv[3]), argv[4]);
    } else {
        fprintf(stderr, "usage: qm_xclient close WINDOW | drop X Y URI\n");
    }
    XCloseDisplay(d);
    return code;
}
