// The query over each system's sockets; the reply's reading is the
// judgement's (SntpOffset).
#include "sntp.h"

#include <chrono>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#define closesocket close
using SOCKET = int;
#endif

namespace {

double Now()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

ClockOffset QuerySntp(const std::string &server)
{
    ClockOffset o;
    o.source = "an SNTP query to " + server;
#ifdef _WIN32
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        o.why = "no sockets";
        return o;
    }
#endif
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    if (getaddrinfo(server.c_str(), "123", &hints, &found) != 0 || found == nullptr) {
        o.why = server + " not found";
    } else {
        const SOCKET s = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
#ifdef _WIN32
        const DWORD wait = 2000;
        const bool opened = s != INVALID_SOCKET;
#else
        const timeval wait{2, 0};
        const bool opened = s >= 0;
#endif
        uint8_t packet[48] = {0x23};  // no leap warning, version 4, mode 3 (a client)
        if (!opened) {
            o.why = "no socket";
        } else {
            setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&wait), sizeof wait);
            const double sent = Now();
            const bool asked = sendto(s, reinterpret_cast<const char *>(packet), sizeof packet, 0, found->ai_addr,
                                      static_cast<int>(found->ai_addrlen)) == sizeof packet;
            uint8_t reply[68];
            const int got = asked ? static_cast<int>(recv(s, reinterpret_cast<char *>(reply), sizeof reply, 0)) : -1;
            const double received = Now();
            if (got <= 0)
                o.why = server + " did not answer within 2 s";
            else if (!SntpOffset(reply, static_cast<size_t>(got), sent, received, &o.seconds))
                o.why = server + " gave no usable time";
            else
                o.measured = true;
            closesocket(s);
        }
        freeaddrinfo(found);
    }
#ifdef _WIN32
    WSACleanup();
#endif
    return o;
}
