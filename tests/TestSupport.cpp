#include "tests/TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vtest {

CapturedMessages::CapturedMessages() {
    m_previous =
        SetMessageBoxHandler([this](const std::string& text, unsigned type, unsigned help) {
            m_messages.push_back({text, type, help});
            return IDOK;
        });
}

CapturedMessages::~CapturedMessages() {
    SetMessageBoxHandler(m_previous);
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velotrax-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input) {
    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err))
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    ProcessResult result;
    size_t written = 0;
    if (input.empty()) {
        close(in[1]);
        in[1] = -1;
    }
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen || in[1] >= 0) {
        pollfd fds[3];
        int n = 0;
        int outIdx = -1, errIdx = -1, inIdx = -1;
        if (outOpen)
            fds[outIdx = n++] = {out[0], POLLIN, 0};
        if (errOpen)
            fds[errIdx = n++] = {err[0], POLLIN, 0};
        if (in[1] >= 0)
            fds[inIdx = n++] = {in[1], POLLOUT, 0};
        if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        char buf[65536];
        auto drain = [&](int idx, int fd, std::string& into, bool& open) {
            if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR)))
                return;
            ssize_t r = read(fd, buf, sizeof buf);
            if (r > 0)
                into.append(buf, static_cast<size_t>(r));
            else if (r == 0 || errno != EINTR)
                open = false;
        };
        drain(outIdx, out[0], result.out, outOpen);
        drain(errIdx, err[0], result.err, errOpen);
        if (inIdx >= 0 && (fds[inIdx].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t w = write(in[1], input.data() + written, input.size() - written);
            if (w > 0)
                written += static_cast<size_t>(w);
            if (w < 0 && errno != EAGAIN && errno != EINTR)
                written = input.size();
            if (written >= input.size()) {
                close(in[1]);
                in[1] = -1;
            }
        }
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

ProcessResult RunVelotrax(const std::vector<std::string>& args, const std::string& input) {
    std::vector<std::string> argv{VELOTRAX_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, input);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

}  // namespace vtest
