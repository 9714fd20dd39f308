// qm_voiceadmin: what an operator of a voice server does once so that the
// client's rooms work.
//
//   qm_voiceadmin grant-temporary-channels HOST:PORT FINGERPRINT
//       (the SuperUser password is read from standard input)
//   qm_voiceadmin fingerprint HOST:PORT
//       prints the SHA-256 of the server's certificate, to put into the
//       deployment file after checking it with the server's operator
#include <cstdio>
#include <iostream>
#include <string>

#include "outside/qm_nim/net/endpoint.h"
#include "outside/qm_nim/net/tls_link.h"
#include "outside/qm_nim/session/server_admin.h"

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "grant-temporary-channels" && argc == 4) {
        std::string error;
        auto server = qmnim::net::ParseVoiceServer(argv[2], argv[3], error);
        if (!server) {
            std::fprintf(stderr, "qm_voiceadmin: %s\n", error.c_str());
            return 2;
        }
        std::string password;
        std::getline(std::cin, password);
        if (!qmnim::session::GrantTemporaryChannels(*server, password, std::chrono::seconds(10), error)) {
            std::fprintf(stderr, "qm_voiceadmin: %s\n", error.c_str());
            return 1;
        }
        std::printf("every user may now make temporary channels under the root channel\n");
        return 0;
    }
    if (command == "fingerprint" && argc == 3) {
        auto server = qmnim::net::ParseHostPort(argv[2]);
        if (!server) {
            std::fprintf(stderr, "qm_voiceadmin: %s is not HOST:PORT\n", argv[2]);
            return 2;
        }
        std::string fingerprint, error;
        if (!qmnim::net::ReadServerFingerprint(*server, std::chrono::seconds(10), fingerprint, error)) {
            std::fprintf(stderr, "qm_voiceadmin: %s\n", error.c_str());
            return 1;
        }
        std::printf("%s\n", qmnim::net::Hex(fingerprint).c_str());
        return 0;
    }
    std::fprintf(stderr,
                 "usage: qm_voiceadmin grant-temporary-channels HOST:PORT FINGERPRINT  (SuperUser password on stdin)\n"
                 "       qm_voiceadmin fingerprint HOST:PORT\n");
    return 2;
}
