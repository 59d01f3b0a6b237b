#pragma once
// An HTTP server on 127.0.0.1 for loading and playing tests: it answers every
// request with the body it was given (or a 404 for paths it does not know),
// each connection on a thread of its own.
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

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
    // Serves a media file's bytes at 'path'. With 'ranges' a Range request
    // gets the part asked for (206); without, every answer is the whole
    // body (200) and no Accept-Ranges header, as simple servers do.
    void ServeMedia(const std::string& path, std::string body, std::string contentType,
                    bool ranges);
    // Connections that asked for a part of a body (a Range header).
    int RangeRequests() const { return m_rangeRequests; }
    // "http://127.0.0.1:PORT"
    std::string BaseUrl() const;
    bool Started() const { return m_listen >= 0; }

private:
    void Start();
    void Run();
    void Answer(int client);

    int m_listen = -1;
    int m_port = 0;
    int m_wake[2] = {-1, -1};
    std::map<std::string, std::string> m_bodies;
    std::map<std::string, std::string> m_types;
    std::map<std::string, size_t> m_large;
    std::set<std::string> m_ranged;
    std::atomic<int> m_rangeRequests{0};
    std::thread m_thread;
    // Open connections, shut down when the server goes.
    std::mutex m_clientLock;
    std::set<int> m_clients;
    std::vector<std::thread> m_answering;
};

}  // namespace vtest
