// A stand-in for a desktop program that the tests start under other names:
// it idles until killed (at most two minutes), or ends at once with "exit".
#include <chrono>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "exit") == 0) return 0;
    for (int i = 0; i < 1200; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}
