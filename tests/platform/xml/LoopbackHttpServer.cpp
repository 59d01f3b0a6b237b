#include "LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace vtest {

CLoopbackHttpServer::CLoopbackHttpServer() {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0)
        return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listen, 8) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::pipe(m_wake) != 0) {
        ::close(m_listen);
        m_listen = -1;
        return;
    }
    m_port = ntohs(addr.sin_port);
}

CLoopbackHttpServer::~CLoopbackHttpServer() {
    if (m_thread.joinable()) {
        char c = 'q';
        (void)!::write(m_wake[1], &c, 1);
        m_thread.join();
    }
    {
        // A client that stopped reading leaves its thread in send().
        std::lock_guard guard(m_clientLock);
        for (int fd : m_clients)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& t : m_answering)
        t.join();
    if (m_listen >= 0)
        ::close(m_listen);
    for (int fd : m_wake)
        if (fd >= 0)
            ::close(fd);
}

void CLoopbackHttpServer::Serve(const std::string& path, std::string body,
                                std::string contentType) {
    m_bodies[path] = std::move(body);
    m_types[path] = std::move(contentType);
    Start();
}

void CLoopbackHttpServer::ServeLarge(const std::string& path, size_t size) {
    m_large[path] = size;
    Start();
}

void CLoopbackHttpServer::ServeMedia(const std::string& path, std::string body,
                                     std::string contentType, bool ranges) {
    if (ranges)
        m_ranged.insert(path);
    Serve(path, std::move(body), std::move(contentType));
}

void CLoopbackHttpServer::Start() {
    if (!m_thread.joinable() && m_listen >= 0)
        m_thread = std::thread([this] { Run(); });
}

std::string CLoopbackHttpServer::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_port);
}

void CLoopbackHttpServer::Run() {
    while (true) {
        pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        if (fds[0].revents & POLLIN) {
            int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            std::lock_guard guard(m_clientLock);
            m_clients.insert(client);
            m_answering.emplace_back([this, client] {
                Answer(client);
                std::lock_guard guard(m_clientLock);
                m_clients.erase(client);
                ::close(client);
            });
        }
    }
}

namespace {
bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
}  // namespace

void CLoopbackHttpServer::Answer(int client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        request.append(buffer, static_cast<size_t>(n));
    }
    size_t start = request.find(' ');
    size_t end = request.find(' ', start + 1);
    std::string path = request.substr(start + 1, end - start - 1);
    std::string header;
    if (auto it = m_bodies.find(path); it != m_bodies.end()) {
        const std::string& body = it->second;
        size_t from = 0;
        size_t to = body.size();  // one past the last byte sent
        std::string status = "200 OK";
        std::string extra;
        const bool ranged = m_ranged.count(path) != 0;
        if (ranged)
            extra = "Accept-Ranges: bytes\r\n";
        size_t range = request.find("\r\nRange: bytes=");
        if (range == std::string::npos)
            range = request.find("\r\nrange: bytes=");
        if (range != std::string::npos)
            ++m_rangeRequests;
        if (range != std::string::npos && ranged) {
            const char* first = request.c_str() + range + 15;
            char* end = nullptr;
            from = std::strtoull(first, &end, 10);
            if (*end == '-' && end[1] >= '0' && end[1] <= '9')
                to = std::min<size_t>(std::strtoull(end + 1, nullptr, 10) + 1, body.size());
            if (from >= body.size() || from >= to) {
                header = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                         std::to_string(body.size()) +
                         "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
                SendAll(client, header.data(), header.size());
                return;
            }
            status = "206 Partial Content";
            extra += "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(to - 1) +
                     "/" + std::to_string(body.size()) + "\r\n";
        }
        header = "HTTP/1.1 " + status + "\r\nContent-Type: " + m_types[path] + "\r\n" + extra +
                 "Content-Length: " + std::to_string(to - from) + "\r\nConnection: close\r\n\r\n";
        if (SendAll(client, header.data(), header.size()))
            SendAll(client, body.data() + from, to - from);
    } else if (auto large = m_large.find(path); large != m_large.end()) {
        // No length up front, so the client must stop by counting.
        header = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n\r\n<asx>";
        if (!SendAll(client, header.data(), header.size()))
            return;
        std::string filler(65536, ' ');
        for (size_t sent = 0; sent < large->second; sent += filler.size())
            if (!SendAll(client, filler.data(), filler.size()))
                return;  // client gave up
    } else {
        header = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        SendAll(client, header.data(), header.size());
    }
}

}  // namespace vtest
