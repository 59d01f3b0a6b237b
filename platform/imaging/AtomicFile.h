#pragma once
// CAtomicFile: writes a file under a temporary name in the target's folder
// and renames it into place on Commit. Until then the target is untouched;
// a write that fails, or an object destroyed without Commit, removes the
// temporary file, so no partial file ever appears under the target's name.
// Failures throw CMessageException naming the target and the cause.
#include <cstddef>
#include <string>

namespace imaging {

class CAtomicFile {
public:
    // Creates the temporary file; throws when the folder cannot take it.
    explicit CAtomicFile(std::string path);
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;
    ~CAtomicFile();

    void Write(const void* data, size_t size);
    // Flushes the data to the disk and renames the file into place,
    // replacing an existing file of that name.
    void Commit();

    const std::string& Path() const { return m_path; }
    const std::string& TempPath() const { return m_tempPath; }

private:
    [[noreturn]] void Fail(int error);
    void Discard() noexcept;

    std::string m_path;
    std::string m_tempPath;
    int m_fd = -1;
};

// Throws the failure to write 'path' with the system's text for 'error'.
[[noreturn]] void ThrowWriteError(const std::string& path, const std::string& cause);

}  // namespace imaging
