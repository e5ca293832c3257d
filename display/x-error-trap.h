// Catching the X protocol errors of a stretch of work, instead of Xlib's
// default handler, which prints them and ends the process.
#pragma once

#include <X11/Xlib.h>

// While an x_error_trap lives, every protocol error goes to it: it keeps the
// first one, or, when a filter is given, hands each to the filter and passes
// those the filter does not take on to the handler it replaced. Its end puts
// that handler back. Xlib keeps one handler for the whole process, so traps
// nest: the newest one that lives is asked first.
class x_error_trap {
public:
    // Takes the error when it returns true.
    using filter_fn = bool (*)(void *ctx, Display *d, const XErrorEvent &e);

    explicit x_error_trap(filter_fn filter = nullptr, void *ctx = nullptr);
    ~x_error_trap();
    x_error_trap(const x_error_trap &) = delete;
    x_error_trap &operator=(const x_error_trap &) = delete;

    // Waits until the server has handled every request sent so far on d;
    // true when it refused one since the trap was set (or last cleared).
    bool refused(Display *d);
    const XErrorEvent &first() const { return first_; }
    void clear() { seen_ = false; }

    // The first refusal as one line: "BadWindow (invalid Window parameter) in
    // request X_CreateGC", for a message.
    void describe(Display *d, char *out, int size) const;

private:
    static int note(Display *d, XErrorEvent *e);

    filter_fn filter_;
    void *ctx_;
    XErrorHandler previous_;
    x_error_trap *outer_;
    bool seen_ = false;
    XErrorEvent first_{};
};
