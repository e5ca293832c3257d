// Key presses in the program's window, as characters.
#include <X11/XKBlib.h>

#include <cstring>

#include "display/gfx-x.h"

namespace {

// The character of the key in the keyboard's first group (on most layouts
// the Latin one), at the level its Shift state picks; 0 when it gives no
// character there. Shortcuts are found this way whichever group is active.
int first_group_character(Display *d, const XKeyEvent &key) {
    const KeySym sym = XkbKeycodeToKeysym(d, static_cast<KeyCode>(key.keycode), 0, (key.state & ShiftMask) ? 1 : 0);
    // Latin-1 keysyms are the characters themselves.
    return sym >= 0x20 && sym <= 0x7e ? static_cast<int>(sym) : 0;
}

bool is_program_key(const gfx *g, int c) { return c > 0 && std::strchr(g->keys, c) != nullptr; }

}  // namespace

int gfx_getkey(gfx *g) {
    XEvent ev;
    // A press that gives no character (a modifier alone) is dropped, so it
    // cannot hold up the presses behind it.
    while (XCheckWindowEvent(g->display, g->window, KeyPressMask, &ev)) {
        char c;
        int key = XLookupString(&ev.xkey, &c, 1, nullptr, nullptr) >= 1 ? static_cast<signed char>(c) : 0;
        if (g->keys != nullptr && !is_program_key(g, key)) {
            const int latin = first_group_character(g->display, ev.xkey);
            if (is_program_key(g, latin)) key = latin;
        }
        if (key != 0) return key;
    }
    return 0;
}
