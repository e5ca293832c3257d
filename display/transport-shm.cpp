// Shared-memory transport (vorbles): the image's pixels live in a System V
// segment that the X server attaches too, so frames never cross the socket.
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display/gfx-x.h"

// Set by the temporary handler of server_attach when the server refuses the segment.
static int attach_refused;

static int note_attach_error(Display *, XErrorEvent *) {
    attach_refused = 1;
    return 0;
}

// Has the server attach the segment. A server that cannot reports it with a
// protocol error, which would otherwise end the process in Xlib's handler.
static int server_attach(gfx *g) {
    if (!XShmQueryExtension(g->display)) return 0;
    XSync(g->display, False);
    attach_refused = 0;
    XErrorHandler old = XSetErrorHandler(note_attach_error);
    Status ok = XShmAttach(g->display, &g->shminfo);
    XSync(g->display, False);
    XSetErrorHandler(old);
    return ok && !attach_refused;
}

static void drop_image(gfx *g) {
    XDestroyImage(g->image);
    g->image = nullptr;
}

int gfx_setup_ximage(gfx *g) {
    g->image = XShmCreateImage(g->display, g->vinfo.visual, g->vinfo.depth, ZPixmap, nullptr, &g->shminfo, g->width,
                               g->height);
    if (!g->image) {
        fprintf(stderr, "Unable to create a shared memory image %dx%d in size, check kern.ipc.shmmax\n", g->width,
                g->height);
        return 0;
    }
    const size_t size = static_cast<size_t>(g->image->bytes_per_line) * static_cast<size_t>(g->image->height);
    // Private to our user; the X server attaches it on our behalf.
    g->shminfo.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (g->shminfo.shmid == -1) {
        fprintf(stderr, "Could not create a shared memory segment\n");
        drop_image(g);
        return 0;
    }
    void *addr = shmat(g->shminfo.shmid, nullptr, 0);
    const int attach_errno = errno;
    // Marked for removal before anything else can fail or the process be
    // killed: it then goes with the last attachment, however the run ends.
    // Linux still lets the server attach it while we hold it.
    shmctl(g->shminfo.shmid, IPC_RMID, nullptr);
    fprintf(stderr, "Created Shared memory segment ID: %d\n", g->shminfo.shmid);
    if (addr == reinterpret_cast<void *>(-1)) {
        fprintf(stderr, "Unable to attach shared memory segment %d: %s\n", g->shminfo.shmid, strerror(attach_errno));
        drop_image(g);
        return 0;
    }
    g->image->data = static_cast<char *>(addr);
    g->shminfo.shmaddr = static_cast<char *>(addr);
    fprintf(stderr, "Have attached shm segment at %p\n", addr);
    g->shminfo.readOnly = False;

    if (!server_attach(g)) {
        fprintf(stderr, "XServer failed to attache to shared memory segment\n");
        shmdt(g->shminfo.shmaddr);
        drop_image(g);
        return 0;
    }

    g->buffer = static_cast<unsigned char *>(calloc(1, static_cast<size_t>(g->width) * static_cast<size_t>(g->height)));
    if (!g->buffer) {
        XShmDetach(g->display, &g->shminfo);
        XSync(g->display, False);
        shmdt(g->shminfo.shmaddr);
        drop_image(g);
        return 0;
    }
    return 1;
}

void gfx_display_image(gfx *g) {
    XShmPutImage(g->display, g->window, g->gc, g->image, 0, 0, g->x_offset, g->y_offset, g->width, g->height, False);
    XSync(g->display, False);
}

void gfx_release_image(gfx *g) {
    XShmDetach(g->display, &g->shminfo);
    XDestroyImage(g->image);
    g->image = nullptr;
    shmdt(g->shminfo.shmaddr);
    shmctl(g->shminfo.shmid, IPC_RMID, nullptr);
}

// The release steps print nothing here; the segment goes as at the end of a run.
void gfx_discard_image(gfx *g) { gfx_release_image(g); }
