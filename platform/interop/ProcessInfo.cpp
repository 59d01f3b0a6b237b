#include "platform/interop/ProcessInfo.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string GetProcessExecutable(pid_t pid) {
    if (pid <= 0)
        return {};
    std::string link = "/proc/" + std::to_string(pid) + "/exe";
    std::string path(4096, '\0');
    ssize_t n = readlink(link.c_str(), path.data(), path.size());
    if (n <= 0 || size_t(n) >= path.size())
        return {};
    path.resize(size_t(n));
    // The kernel marks a file that is gone since the process started; the
    // path may meanwhile name another file, whose version would not be the
    // running program's.
    static const char kDeleted[] = " (deleted)";
    if (path.size() >= sizeof kDeleted - 1 &&
        path.compare(path.size() - (sizeof kDeleted - 1), std::string::npos, kDeleted) == 0)
        return {};
    return path;
}

bool IsProcessRunning(pid_t pid) {
    if (pid <= 0)
        return false;
    return kill(pid, 0) == 0 || errno == EPERM;
}

std::optional<uint32_t> ReadSharedMemoryWord(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos)
        return std::nullopt;
    int fd = shm_open(("/" + name).c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    // Read rather than mapped: a mapping faults when another process
    // shrinks the object while it is read.
    std::optional<uint32_t> word;
    struct stat st {};
    uint32_t value = 0;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && pread(fd, &value, 4, 0) == 4)
        word = value;
    close(fd);
    return word;
}
