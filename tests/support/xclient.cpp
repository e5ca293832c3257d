#include "support/xclient.h"

void send_wm_delete(Display *d, Window w) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    // No event mask: the event goes to the client that made the window.
    XSendEvent(d, w, False, NoEventMask, &ev);
    XSync(d, False);
}
