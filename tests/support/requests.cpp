#include "support/requests.h"

#include <X11/Xproto.h>
#include <X11/extensions/shmproto.h>

#include <stdexcept>

#include "support/proc.h"

PutCounter::PutCounter(const std::string &display) {
    control_ = XOpenDisplay(display.c_str());
    data_ = XOpenDisplay(display.c_str());
    int major = 0, minor = 0;
    if (!control_ || !data_ || !XRecordQueryVersion(control_, &major, &minor))
        throw std::runtime_error("no RECORD extension on " + display);
    int shm = 0, first_event, first_error;
    if (!XQueryExtension(control_, "MIT-SHM", &shm, &first_event, &first_error)) shm = 0;
    XRecordRange *ranges[2] = {XRecordAllocRange(), XRecordAllocRange()};
    ranges[0]->core_requests.first = ranges[0]->core_requests.last = X_PutImage;
    int n = 1;
    if (shm) {
        ranges[1]->ext_requests.ext_major.first = ranges[1]->ext_requests.ext_major.last =
            static_cast<unsigned char>(shm);
        ranges[1]->ext_requests.ext_minor.first = ranges[1]->ext_requests.ext_minor.last = X_ShmPutImage;
        n = 2;
    }
    XRecordClientSpec clients = XRecordAllClients;
    context_ = XRecordCreateContext(control_, 0, &clients, 1, ranges, n);
    XFree(ranges[0]);
    XFree(ranges[1]);
    XSync(control_, False);
    if (!context_ || !XRecordEnableContextAsync(data_, context_, got, reinterpret_cast<XPointer>(this)))
        throw std::runtime_error("cannot record the requests of " + display);
}

PutCounter::~PutCounter() {
    if (context_) {
        XRecordDisableContext(control_, context_);
        XSync(control_, False);
        XRecordProcessReplies(data_);
        XRecordFreeContext(control_, context_);
    }
    if (data_) XCloseDisplay(data_);
    if (control_) XCloseDisplay(control_);
}

void PutCounter::got(XPointer self, XRecordInterceptData *data) {
    if (data->category == XRecordFromClient) ++reinterpret_cast<PutCounter *>(self)->puts_;
    XRecordFreeData(data);
}

long PutCounter::count() {
    // The server sends what it recorded as it goes: a round trip on the
    // control connection makes sure it has passed on everything before it.
    XSync(control_, False);
    XRecordProcessReplies(data_);
    return puts_;
}

long PutCounter::during(double seconds) {
    const long before = count();
    sleep_s(seconds);
    return count() - before;
}
