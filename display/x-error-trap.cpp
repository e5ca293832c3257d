#include "display/x-error-trap.h"

#include <cstdio>

namespace {

// The newest trap that lives; Xlib's handler takes no context of its own.
x_error_trap *newest = nullptr;

}  // namespace

x_error_trap::x_error_trap(filter_fn filter, void *ctx)
    : filter_(filter), ctx_(ctx), previous_(XSetErrorHandler(note)), outer_(newest) {
    newest = this;
}

x_error_trap::~x_error_trap() {
    newest = outer_;
    XSetErrorHandler(previous_);
}

int x_error_trap::note(Display *d, XErrorEvent *e) {
    // An error the trap's filter leaves goes to the trap it nests in, and
    // past the outermost to the handler that was there before any.
    for (x_error_trap *t = newest; t != nullptr; t = t->outer_) {
        if (t->filter_ != nullptr && !t->filter_(t->ctx_, d, *e)) {
            if (t->outer_ == nullptr && t->previous_ != nullptr) return t->previous_(d, e);
            continue;
        }
        if (!t->seen_) t->first_ = *e;
        t->seen_ = true;
        return 0;
    }
    return 0;
}

bool x_error_trap::refused(Display *d) {
    XSync(d, False);
    return seen_;
}

void x_error_trap::describe(Display *d, char *out, int size) const {
    char error[160], request[80], code[32];
    XGetErrorText(d, first_.error_code, error, sizeof error);
    if (first_.request_code < 128) {
        snprintf(code, sizeof code, "%d", first_.request_code);
        XGetErrorDatabaseText(d, "XRequest", code, code, request, sizeof request);
    } else {
        snprintf(request, sizeof request, "%d.%d", first_.request_code, first_.minor_code);
    }
    snprintf(out, static_cast<size_t>(size), "%s in request %s", error, request);
}
