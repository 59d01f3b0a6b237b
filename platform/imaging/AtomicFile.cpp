#include "platform/imaging/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/Exception.h"

namespace imaging {

namespace {

// "The picture could not be written to "%1": %2"
constexpr unsigned IDS_IMAGE_WRITE_FAILED = 0x7800;

std::atomic<unsigned> g_tempCounter{0};

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void ThrowWriteError(const std::string& path, const std::string& cause) {
    ThrowMessageArgs(IDS_IMAGE_WRITE_FAILED, path, cause);
}

CAtomicFile::CAtomicFile(std::string path) : m_path(std::move(path)) {
    if (m_path.empty() || m_path.back() == '/')
        ThrowWriteError(m_path, std::strerror(EISDIR));
    const std::string folder = FolderOf(m_path);
    const std::string name = NameOf(m_path);
    // A hidden name beside the target, so the rename stays on one file system.
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%ld.%u.tmp", static_cast<long>(getpid()),
                      g_tempCounter.fetch_add(1));
        std::string temp = folder + "/." + name + suffix;
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_tempPath = std::move(temp);
            return;
        }
        if (errno != EEXIST)
            ThrowWriteError(m_path, std::strerror(errno));
    }
    ThrowWriteError(m_path, std::strerror(EEXIST));
}

CAtomicFile::~CAtomicFile() {
    Discard();
}

void CAtomicFile::Discard() noexcept {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
        ::unlink(m_tempPath.c_str());
    }
}

void CAtomicFile::Fail(int error) {
    Discard();
    ThrowWriteError(m_path, std::strerror(error));
}

void CAtomicFile::Write(const void* data, size_t size) {
    if (m_fd < 0)
        ThrowWriteError(m_path, std::strerror(EBADF));
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(m_fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail(errno);
        }
        if (n == 0)
            Fail(EIO);
        p += n;
        size -= static_cast<size_t>(n);
    }
}

void CAtomicFile::Commit() {
    if (m_fd < 0)
        ThrowWriteError(m_path, std::strerror(EBADF));
    // The data reaches the disk before the name does: after a crash the
    // target holds either the old file or the complete new one.
    if (::fdatasync(m_fd) != 0 && errno != EINVAL && errno != EROFS)
        Fail(errno);
    int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        int error = errno;
        ::unlink(m_tempPath.c_str());
        ThrowWriteError(m_path, std::strerror(error));
    }
    if (::rename(m_tempPath.c_str(), m_path.c_str()) != 0) {
        int error = errno;
        ::unlink(m_tempPath.c_str());
        ThrowWriteError(m_path, std::strerror(error));
    }
}

}  // namespace imaging
