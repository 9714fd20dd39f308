// The demo's local servers: the built-in front-end (web/) on one loopback port
// and a statistics endpoint on another that prints every launch report it gets.
//   qm_devserver <web dir> <front-end port> <statistics port>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/support/http_server.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }
}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <web dir> <front-end port> <statistics port>\n", argv[0]);
        return 2;
    }
    qmtest::HttpServer web, stats;
    // It runs as long as the demo does: nothing asks for what it served.
    web.RecordRequests(false);
    stats.RecordRequests(false);
    web.ServeDirectory(argv[1]);
    stats.Fallback([](const qmtest::HttpRequest& r) {
        std::printf("[statistics] %s %s\n  %s\n", r.method.c_str(), r.target.c_str(), r.body.c_str());
        std::fflush(stdout);
        qmtest::HttpResponse answer;
        answer.contentType = "application/json";
        answer.body = "{\"code\":0}";
        return answer;
    });
    // The front-end's self-test posts what it received here.
    web.Route("/selftest", [](const qmtest::HttpRequest& r) {
        std::printf("[selftest] %s\n", r.body.c_str());
        std::fflush(stdout);
        qmtest::HttpResponse answer;
        answer.body = "ok";
        return answer;
    });
    if (!web.Start(std::atoi(argv[2])) || !stats.Start(std::atoi(argv[3]))) {
        std::fprintf(stderr, "qm_devserver: cannot listen on 127.0.0.1:%s or :%s\n", argv[2], argv[3]);
        return 1;
    }
    std::printf("front-end  %s\nstatistics %s\n", web.Url().c_str(), stats.Url("/opt=put").c_str());
    std::fflush(stdout);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}
