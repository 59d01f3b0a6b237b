#pragma once
// A one-thread HTTP server on 127.0.0.1 for loading tests: it answers every
// request with the body it was given (or a 404 for paths it does not know).
#include <atomic>
#include <map>
#include <string>
#include <thread>

namespace vtest {

class CLoopbackHttpServer {
public:
    CLoopbackHttpServer();
    ~CLoopbackHttpServer();
    // Serves 'body' at 'path' ("/list.asx") with the given content type.
    void Serve(const std::string& path, std::string body,
               std::string contentType = "video/x-ms-asf");
    // Serves 'size' bytes of filler at 'path' without holding them in memory.
    void ServeLarge(const std::string& path, size_t size);
    // "http://127.0.0.1:PORT"
    std::string BaseUrl() const;
    bool Started() const { return m_listen >= 0; }

private:
    void Run();
    void Answer(int client);

    int m_listen = -1;
    int m_port = 0;
    int m_wake[2] = {-1, -1};
    std::map<std::string, std::string> m_bodies;
    std::map<std::string, std::string> m_types;
    std::map<std::string, size_t> m_large;
    std::thread m_thread;
};

}  // namespace vtest
