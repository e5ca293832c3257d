// What reaches a test's X server from its clients, through the server's
// RECORD extension: here, the image puts (PutImage and MIT-SHM's
// ShmPutImage), to tell whether a program sends frames.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/record.h>

#include <string>

class PutCounter {
public:
    explicit PutCounter(const std::string &display);
    ~PutCounter();
    PutCounter(const PutCounter &) = delete;
    PutCounter &operator=(const PutCounter &) = delete;

    // The puts of every client since the counter started.
    long count();
    // The puts during the next `seconds`.
    long during(double seconds);

private:
    static void got(XPointer self, XRecordInterceptData *data);
    Display *control_ = nullptr;
    Display *data_ = nullptr;
    XRecordContext context_ = 0;
    long puts_ = 0;
};
