#include "xhelp.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>

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
