#include "xhelp.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "support/proc.h"

namespace {

// Starts Xvfb under the user nobody through a wrapper found first on PATH:
// such a server cannot attach a segment that only our user may use.
std::unique_ptr<Xvfb> start_foreign(std::vector<std::string> args) {
    // A server that is not root cannot create the socket directory itself.
    mkdir("/tmp/.X11-unix", 01777);
    char dir[] = "/tmp/vorbles-xvfb-XXXXXX";
    if (!mkdtemp(dir)) return nullptr;
    const std::string wrapper = std::string(dir) + "/Xvfb";
    std::ofstream(wrapper) << "#!/bin/sh\nexec setpriv --reuid=65534 --regid=65534 --clear-groups "
                              "--pdeathsig TERM /usr/bin/Xvfb \"$@\"\n";
    chmod(wrapper.c_str(), 0755);
    const std::string old_path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
    setenv("PATH", (std::string(dir) + ":" + old_path).c_str(), 1);
    std::unique_ptr<Xvfb> x;
    try {
        x = std::make_unique<Xvfb>(args);
    } catch (...) {
    }
    setenv("PATH", old_path.c_str(), 1);
    unlink(wrapper.c_str());
    rmdir(dir);
    return x;
}

}  // namespace

bool can_run_foreign_server() { return geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0; }

Xvfb &server(Server kind) {
    static std::map<Server, std::unique_ptr<Xvfb>> servers;
    auto &slot = servers[kind];
    if (!slot) {
        std::vector<std::string> args;
        switch (kind) {
        case Server::depth24: args = xvfb_depth24(); break;
        case Server::depth24_no_composite: args = xvfb_depth24_no_composite(); break;
        case Server::depth16: args = xvfb_depth16(); break;
        case Server::no_shm:
        case Server::foreign_user:
            args = xvfb_depth24_no_composite();
            if (kind == Server::no_shm) args.insert(args.end(), {"-extension", "MIT-SHM"});
            break;
        }
        if (kind == Server::foreign_user) {
            server(Server::depth24);  // makes the socket directory as root
            slot = start_foreign(args);
            if (!slot) throw std::runtime_error("Xvfb did not start as user nobody");
        } else {
            slot = std::make_unique<Xvfb>(args);
        }
    }
    return *slot;
}

Peer::Peer(const Xvfb &x) : d(XOpenDisplay(x.display().c_str())) {
    if (!d) throw std::runtime_error("cannot connect to " + x.display());
}

Peer::~Peer() { XCloseDisplay(d); }

std::set<Window> windows_titled(Display *d, const std::string &title) {
    std::set<Window> found;
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    XSync(d, False);
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n)) return found;
    for (unsigned i = 0; i < n; ++i) {
        char *name = nullptr;
        if (XFetchName(d, children[i], &name) && name) {
            if (title == name) found.insert(children[i]);
            XFree(name);
        }
    }
    if (children) XFree(children);
    return found;
}

std::set<int> shm_segments() {
    std::set<int> ids;
    std::istringstream lines(shell("ipcs -m"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string key;
        int id;
        if (words >> key >> id && key.rfind("0x", 0) == 0) ids.insert(id);
    }
    return ids;
}

std::string ipcs_line(int id) {
    std::istringstream lines(shell("ipcs -m"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string key;
        int found;
        if (words >> key >> found && found == id) return line;
    }
    return "";
}

int printed_shm_id(const std::string &err) {
    const std::string tag = "Created Shared memory segment ID: ";
    auto at = err.find(tag);
    return at == std::string::npos ? -1 : atoi(err.c_str() + at + tag.size());
}

bool shm_gone_within(int id, double seconds) {
    for (double waited = 0; waited < seconds; waited += 0.05) {
        if (!shm_segments().count(id)) return true;
        sleep_s(0.05);
    }
    return !shm_segments().count(id);
}

