// Shared-memory transport (vorbles): the image's pixels live in a System V
// segment that the X server attaches too, so frames never cross the socket.
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "display/gfx-x.h"  // before XShm.h, which needs Xlib's types
#include "display/x-error-trap.h"

#include <X11/extensions/XShm.h>

// The segment behind the image, private to this transport.
struct gfx_transport {
    XShmSegmentInfo shminfo;
};

// Has the server attach the segment. A server that cannot reports it with a
// protocol error, which would otherwise end the process in Xlib's handler.
static int server_attach(Display *d, XShmSegmentInfo *shminfo) {
    if (!XShmQueryExtension(d)) return 0;
    XSync(d, False);
    x_error_trap trap;
    const Status ok = XShmAttach(d, shminfo);
    return ok && !trap.refused(d);
}

// Where shared memory cannot be had, the other program may well work.
static const char PLAIN_ADVICE[] =
    "vorbles-plain draws without shared memory: use it for this display (X over the network, or a server without "
    "MIT-SHM)";

// Ends a set-up that failed after the image was made.
static int give_up(gfx *g) {
    XDestroyImage(g->image);
    g->image = nullptr;
    delete g->transport;
    g->transport = nullptr;
    return 0;
}

// The image in a new segment; the progress lines only when `announce` (at start-up).
static int make_image(gfx *g, bool announce) {
    g->transport = new (std::nothrow) gfx_transport{};
    if (!g->transport) return 0;
    XShmSegmentInfo *shm = &g->transport->shminfo;
    g->image = XShmCreateImage(g->display, g->vinfo.visual, g->vinfo.depth, ZPixmap, nullptr, shm, g->width, g->height);
    if (!g->image) {
        fprintf(stderr, "Unable to create a shared memory image %dx%d in size, check kern.ipc.shmmax\n", g->width,
                g->height);
        delete g->transport;
        g->transport = nullptr;
        return 0;
    }
    const size_t size = static_cast<size_t>(g->image->bytes_per_line) * static_cast<size_t>(g->image->height);
    // Private to our user; the X server attaches it on our behalf.
    shm->shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (shm->shmid == -1) {
        fprintf(stderr, "Could not create a shared memory segment\n");
        return give_up(g);
    }
    void *addr = shmat(shm->shmid, nullptr, 0);
    const int attach_errno = errno;
    // Marked for removal before anything else can fail or the process be
    // killed: it then goes with the last attachment, however the run ends.
    // Linux still lets the server attach it while we hold it.
    shmctl(shm->shmid, IPC_RMID, nullptr);
    if (announce) fprintf(stderr, "Created Shared memory segment ID: %d\n", shm->shmid);
    if (addr == reinterpret_cast<void *>(-1)) {
        fprintf(stderr, "Unable to attach shared memory segment %d: %s\n", shm->shmid, strerror(attach_errno));
        g->advice = PLAIN_ADVICE;
        return give_up(g);
    }
    g->image->data = static_cast<char *>(addr);
    shm->shmaddr = static_cast<char *>(addr);
    if (announce) fprintf(stderr, "Have attached shm segment at %p\n", addr);
    shm->readOnly = False;

    if (!server_attach(g->display, shm)) {
        // Kept as the program has always printed it.
        fprintf(stderr, "XServer failed to attache to shared memory segment\n");
        g->advice = PLAIN_ADVICE;
        shmdt(shm->shmaddr);
        return give_up(g);
    }
    return 1;
}

int gfx_setup_ximage(gfx *g) { return make_image(g, true); }

int gfx_resize_ximage(gfx *g) { return make_image(g, false); }

void gfx_display_image(gfx *g) {
    XShmPutImage(g->display, g->window, g->gc, g->image, 0, 0, g->x_offset, g->y_offset, g->width, g->height, False);
    for (int i = 0; i < g->extra_places; ++i)
        XShmPutImage(g->display, g->window, g->gc, g->image, 0, 0, g->extra_x[i], g->extra_y[i], g->width, g->height,
                     False);
    XSync(g->display, False);
}

void gfx_release_image(gfx *g) {
    XShmSegmentInfo *shm = &g->transport->shminfo;
    XShmDetach(g->display, shm);
    XDestroyImage(g->image);
    g->image = nullptr;
    shmdt(shm->shmaddr);
    shmctl(shm->shmid, IPC_RMID, nullptr);
    delete g->transport;
    g->transport = nullptr;
}

// The release steps print nothing here; the segment goes as at the end of a run.
void gfx_discard_image(gfx *g) { gfx_release_image(g); }
