#include "tests/support/network.h"

#include <fcntl.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace qmtest {
namespace {
bool g_private = false;

bool BringUpLoopback() {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    if (ok) {
        ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
        ok = ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    }
    close(fd);
    return ok;
}

bool ChangeDefaultRoute(unsigned long request) {
    if (!g_private) return false;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    rtentry route{};
    reinterpret_cast<sockaddr_in*>(&route.rt_dst)->sin_family = AF_INET;
    reinterpret_cast<sockaddr_in*>(&route.rt_genmask)->sin_family = AF_INET;
    char device[] = "lo";
    route.rt_dev = device;
    route.rt_flags = RTF_UP;
    bool ok = ioctl(fd, request, &route) == 0;
    close(fd);
    return ok;
}

}  // namespace

bool EnterPrivateNetwork() {
    if (g_private) return true;
    if (const char* shared = std::getenv("QM_TEST_SHARED_NETWORK"); shared && *shared == '1') return false;
    if (unshare(CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "test: no private network namespace (%s); sharing the machine's network\n",
                     std::strerror(errno));
        return false;
    }
    if (!BringUpLoopback()) {
        std::fprintf(stderr, "test: the loopback of the private network namespace did not come up\n");
        return false;
    }
    g_private = true;
    return true;
}

bool InPrivateNetwork() { return g_private; }
bool AddDefaultRoute() { return ChangeDefaultRoute(SIOCADDRT); }
bool RemoveDefaultRoute() { return ChangeDefaultRoute(SIOCDELRT); }

void TakeTurnWithOtherClientTests() {
    const char* path = std::getenv("QM_TEST_CLIENT_LOCK");
    if (g_private || !path || !*path) return;
    std::string dir(path);
    dir.resize(dir.rfind('/') == std::string::npos ? 0 : dir.rfind('/'));
    if (!dir.empty()) mkdir(dir.c_str(), 0755);
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);  // open until the program ends
    if (fd < 0) return;
    std::fprintf(stderr, "test: waiting for the other client tests (%s)\n", path);
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

}  // namespace qmtest
