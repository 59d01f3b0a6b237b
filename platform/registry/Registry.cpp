// The registry store: both roots in memory, the current user's saved as
// REGEDIT4 text. A save takes the advisory lock beside the file, reads what
// is on disk now, replays this process's own pending changes on top, writes
// a temporary file, syncs it and renames it over the old one; so two
// processes that save different values at the same time both keep theirs.
#include "platform/registry/Registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/com/ErrorText.h"
#include "platform/registry/RegFile.h"
#include "resources/StringTable.h"
#include "support/FormatMessage.h"
#include "support/MessageBox.h"

struct RegKeyHandle {
    int root = 0;  // 0 current user, 1 local machine
    std::vector<std::string> path;
    REGSAM access = 0;
};

namespace {

constexpr unsigned IDS_REG_FILE_DAMAGED = 29001;
constexpr unsigned IDS_REG_NAME_TOO_LONG = 29003;
constexpr unsigned IDS_REG_VALUE_TOO_LARGE = 29004;
constexpr unsigned IDS_REG_KEY_DELETED = 29005;
constexpr unsigned IDS_REG_FILE_UNREADABLE = 29006;
constexpr unsigned IDS_REG_FILE_READ_ONLY = 29007;

constexpr const char* kUserRoot = "HKEY_CURRENT_USER";
constexpr const char* kMachineRoot = "HKEY_LOCAL_MACHINE";
constexpr int kLockWaitMs = 10000;
// Damaged files kept aside: "<file>.damaged" (newest), ".damaged.1", … ".damaged.4" (oldest).
constexpr int kDamagedCopies = 5;

struct CRegChange {
    enum Kind { CreateKey, SetValue, DeleteValue, DeleteKey } kind;
    std::vector<std::string> path;
    CRegValue value;  // SetValue: the value; DeleteValue: its name
};

// Identity of the file's current version: a save by another process
// replaces the file (new inode) or at least changes its time or size.
struct CFileStamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    int64_t mtimeNs = 0;
    off_t size = 0;
    bool operator==(const CFileStamp&) const = default;
};

CFileStamp StampOf(const struct stat& st) {
    CFileStamp s;
    s.exists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.size = st.st_size;
    return s;
}

CFileStamp StampOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? StampOf(st) : CFileStamp();
}

std::string DefaultUserFile() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : ".") + "/.config";
    }
    return base + "/velotrax/user.reg";
}

// Reads a whole file; false with errno kept when it cannot be read.
// 'missing' tells a file that is simply not there.
bool ReadWholeFile(const std::string& path, std::string& out, bool& missing) {
    out.clear();
    missing = false;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT;
        return false;
    }
    char buf[65536];
    while (true) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<size_t>(n));
        // Anything past the limit is cut off; the parser reports it.
        if (out.size() > kRegMaxFileSize)
            break;
    }
    close(fd);
    return true;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

LONG Win32FromErrno(int e) {
    switch (e) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case ENOSPC:
        case EDQUOT:
            return ERROR_WRITE_FAULT;
        case EWOULDBLOCK:
            return ERROR_LOCK_VIOLATION;
        case ELOOP:
            return ERROR_ACCESS_DENIED;
        default:
            return ERROR_WRITE_FAULT;
    }
}

class CRegistryStore {
public:
    static CRegistryStore& Instance() {
        static CRegistryStore store;
        return store;
    }

    ~CRegistryStore() {
        // Changes not yet saved are kept as the registry keeps them.
        try {
            std::lock_guard lock(m_mutex);
            if (!m_journal.empty())
                SaveLocked();
        } catch (...) {
        }
    }

    std::recursive_mutex m_mutex;

    CRegKeyNode& Root(int root) {
        EnsureLoaded();
        return root == 0 ? m_user : m_machine;
    }

    RegKeyHandle* Validate(HKEY key) {
        if (key == HKEY_CURRENT_USER)
            return &m_predefined[0];
        if (key == HKEY_LOCAL_MACHINE)
            return &m_predefined[1];
        if (key == HKEY_CLASSES_ROOT)
            return &m_predefined[2];
        return m_handles.count(key) ? key : nullptr;
    }

    bool IsPredefined(HKEY key) const {
        return key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT;
    }

    HKEY NewHandle(int root, std::vector<std::string> path, REGSAM access) {
        auto* h = new RegKeyHandle{root, std::move(path), access};
        m_handles.insert(h);
        return h;
    }

    LONG CloseHandle(HKEY key) {
        if (IsPredefined(key))
            return ERROR_SUCCESS;
        if (!m_handles.erase(key))
            return ERROR_INVALID_HANDLE;
        delete key;
        return ERROR_SUCCESS;
    }

    CRegKeyNode* Resolve(const RegKeyHandle& h) {
        CRegKeyNode* node = &Root(h.root);
        for (const std::string& name : h.path) {
            node = node->FindSubKey(name);
            if (!node)
                return nullptr;
        }
        return node;
    }

    void Record(CRegChange change) { m_journal.push_back(std::move(change)); }

    // The key of a handle, created when it is the classes root and missing.
    CRegKeyNode* ResolveOrCreateBase(HKEY key, const RegKeyHandle& h) {
        CRegKeyNode* node = Resolve(h);
        if (node || key != HKEY_CLASSES_ROOT)
            return node;
        node = &Root(h.root);
        for (const std::string& name : h.path)
            node = &node->CreateSubKey(name);
        Record({CRegChange::CreateKey, h.path, {}});
        return node;
    }

    LONG SaveLocked();
    std::string UserFile() const {
        return m_userFileOverride.empty() ? DefaultUserFile() : m_userFileOverride;
    }
    std::string MachineFile() const {
        return m_machineFileOverride.empty() ? "/etc/xdg/velotrax/system.reg"
                                             : m_machineFileOverride;
    }

    // Both save the pending changes first; when that fails, the changes
    // stay (in memory, for a later save) and nothing else happens.
    LONG SetFiles(const std::string& user, const std::string& machine) {
        if (LONG rc = m_journal.empty() ? ERROR_SUCCESS : SaveLocked(); rc != ERROR_SUCCESS)
            return rc;
        m_userFileOverride = user;
        m_machineFileOverride = machine;
        Unload();
        return ERROR_SUCCESS;
    }

    LONG Reload() {
        if (LONG rc = m_journal.empty() ? ERROR_SUCCESS : SaveLocked(); rc != ERROR_SUCCESS)
            return rc;
        Unload();
        return ERROR_SUCCESS;
    }

    // Messages wait until the store's lock is released (CStoreLock), so a
    // message box never holds up other threads' registry calls.
    void Report(std::string text) { m_reports.push_back(std::move(text)); }
    std::vector<std::string> TakeReports() { return std::exchange(m_reports, {}); }

private:
    CRegistryStore() {
        m_predefined[0].root = 0;
        m_predefined[0].access = KEY_ALL_ACCESS;
        m_predefined[1].root = 1;
        m_predefined[1].access = KEY_READ;
        m_predefined[2].root = 0;
        m_predefined[2].path = {"Software", "Classes"};
        m_predefined[2].access = KEY_ALL_ACCESS;
    }

    void Unload() {
        m_loaded = false;
        m_user.Clear();
        m_machine.Clear();
        m_unreadable = false;
        m_readOnlyReported = false;
    }

    void EnsureLoaded() {
        if (m_loaded)
            return;
        m_loaded = true;
        std::string text;
        bool missing = false;
        if (ReadWholeFile(MachineFile(), text, missing))
            ParseRegFile(text, kMachineRoot, m_machine);
        LoadUserFile();
    }

    // Reads the user file into this process's view, with the changes not
    // yet saved on top. A file that is there but cannot be read is left
    // alone: this run uses the defaults and saves nothing over it.
    void LoadUserFile() {
        std::string text;
        bool missing = false;
        m_stamp = StampOf(UserFile());
        bool readable = ReadWholeFile(UserFile(), text, missing);
        const int readErrno = errno;
        CRegParseResult result;
        CRegKeyNode fresh;
        if (readable)
            result = ParseRegFile(text, kUserRoot, fresh);
        Replay(fresh);
        m_user.Swap(fresh);
        const bool wasUnreadable = m_unreadable;
        m_unreadable = !readable && !missing;
        if (m_unreadable && !wasUnreadable)
            ReportFile(IDS_REG_FILE_UNREADABLE, UserFile(), std::strerror(readErrno));
        if (readable && result.damaged) {
            // Keep the damaged file aside at once and leave a clean one,
            // so other processes read the good part too.
            m_cleanWriteNeeded = true;
            SaveLocked();
        }
    }

public:
    // Reads the user file again when another process saved it since; the
    // registry is shared, so values saved elsewhere show up here too.
    void RefreshIfChanged() {
        if (!m_loaded) {
            EnsureLoaded();
            return;
        }
        if (StampOf(UserFile()) != m_stamp)
            LoadUserFile();
    }

private:
    void ReportDamage(const std::string& file, const std::string& aside,
                      const std::string& problem) {
        std::string format = LoadResString(IDS_REG_FILE_DAMAGED);
        auto text = va::FormatMessageString(format, {file, aside, problem});
        Report(text ? *text : file);
    }

    void ReportFile(unsigned id, const std::string& file, const std::string& reason) {
        std::string format = LoadResString(id);
        auto text = va::FormatMessageString(format, {file, reason});
        Report(text ? *text : file + ": " + reason);
    }

    void Replay(CRegKeyNode& root) {
        for (const CRegChange& c : m_journal) {
            switch (c.kind) {
                case CRegChange::CreateKey:
                case CRegChange::SetValue: {
                    CRegKeyNode* node = &root;
                    for (const std::string& name : c.path)
                        node = &node->CreateSubKey(name);
                    if (c.kind == CRegChange::SetValue)
                        node->SetValue(c.value);
                    break;
                }
                case CRegChange::DeleteValue: {
                    CRegKeyNode* node = &root;
                    for (const std::string& name : c.path)
                        if (!(node = node->FindSubKey(name)))
                            break;
                    if (node)
                        node->RemoveValue(c.value.name);
                    break;
                }
                case CRegChange::DeleteKey: {
                    if (c.path.empty())
                        break;
                    CRegKeyNode* parent = &root;
                    for (size_t i = 0; parent && i + 1 < c.path.size(); ++i)
                        parent = parent->FindSubKey(c.path[i]);
                    if (!parent)
                        break;
                    CRegKeyNode* node = parent->FindSubKey(c.path.back());
                    if (node && node->SubKeys().empty())
                        parent->RemoveSubKey(c.path.back());
                    break;
                }
            }
        }
    }

    bool m_loaded = false;
    CFileStamp m_stamp;
    bool m_cleanWriteNeeded = false;
    bool m_unreadable = false;        // the user file is there but cannot be read
    bool m_readOnlyReported = false;  // the user made the file read-only; said once
    std::vector<std::string> m_reports;
    CRegKeyNode m_user;
    CRegKeyNode m_machine;
    RegKeyHandle m_predefined[3];
    std::unordered_set<HKEY> m_handles;
    std::vector<CRegChange> m_journal;
    std::string m_userFileOverride;
    std::string m_machineFileOverride;
};

// Holds the advisory lock on "<file>.lock" while it lives.
class CFileLock {
public:
    explicit CFileLock(const std::string& path) {
        // Never through a symbolic link: the lock would create its target.
        m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0) {
            m_error = Win32FromErrno(errno);
            return;
        }
        // Bounded wait: a process that hangs while holding the lock must
        // not hang every other player with it.
        for (int waited = 0;; waited += 2) {
            if (flock(m_fd, LOCK_EX | LOCK_NB) == 0)
                return;
            if (errno != EWOULDBLOCK && errno != EINTR)
                break;
            if (waited >= kLockWaitMs)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        m_error = ERROR_LOCK_VIOLATION;
        close(m_fd);
        m_fd = -1;
    }
    ~CFileLock() {
        if (m_fd >= 0) {
            flock(m_fd, LOCK_UN);
            close(m_fd);
        }
    }
    LONG Error() const { return m_error; }

private:
    int m_fd = -1;
    LONG m_error = ERROR_SUCCESS;
};

// Keeps a damaged file as "<file>.damaged"; earlier copies move one number
// up and the oldest is dropped. Returns the name it was kept under, or an
// empty string when it could not be moved.
std::string KeepAside(const std::string& file) {
    const std::string aside = file + ".damaged";
    auto numbered = [&](int n) { return n == 0 ? aside : aside + "." + std::to_string(n); };
    std::error_code ec;
    std::filesystem::remove_all(numbered(kDamagedCopies - 1), ec);
    for (int n = kDamagedCopies - 2; n >= 0; --n)
        std::rename(numbered(n).c_str(), numbered(n + 1).c_str());
    return std::rename(file.c_str(), aside.c_str()) == 0 ? aside : std::string();
}

// Temporary files of saves whose process was killed: "<file>.tmp-PID" with
// no process PID any more. Called with the save lock held.
void RemoveStaleTemporaries(const std::string& file) {
    const std::filesystem::path path(file);
    const std::string prefix = path.filename().string() + ".tmp-";
    const std::string dir = path.parent_path().empty() ? "." : path.parent_path().string();
    DIR* d = opendir(dir.c_str());
    if (!d)
        return;
    while (dirent* entry = readdir(d)) {
        std::string name = entry->d_name;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string digits = name.substr(prefix.size());
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        pid_t pid = static_cast<pid_t>(std::stol(digits));
        if (pid > 0 && pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH)
            unlinkat(dirfd(d), name.c_str(), 0);
    }
    closedir(d);
}

LONG CRegistryStore::SaveLocked() {
    if (m_journal.empty() && !m_cleanWriteNeeded)
        return ERROR_SUCCESS;
    const std::string file = UserFile();
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::path(file).parent_path();
    if (!dir.empty())
        std::filesystem::create_directories(dir, ec);

    CFileLock lock(file + ".lock");
    if (lock.Error() != ERROR_SUCCESS)
        return lock.Error();
    RemoveStaleTemporaries(file);

    // What is on disk now, with what other processes saved meanwhile.
    std::string text;
    bool missing = false;
    CRegKeyNode merged;
    bool readable = ReadWholeFile(file, text, missing);
    if (!readable && !missing) {
        // A file that cannot be read is never replaced: its content is unknown.
        LONG e = Win32FromErrno(errno);
        if (!m_unreadable) {
            m_unreadable = true;
            ReportFile(IDS_REG_FILE_UNREADABLE, file, std::strerror(errno));
        }
        return e;
    }
    struct stat old {};
    const bool exists = readable && stat(file.c_str(), &old) == 0;
    if (exists && (old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        // The user made the file read-only: it is not written.
        if (!m_readOnlyReported) {
            m_readOnlyReported = true;
            ReportFile(IDS_REG_FILE_READ_ONLY, file, RegErrorText(ERROR_ACCESS_DENIED));
        }
        return ERROR_ACCESS_DENIED;
    }
    CRegParseResult parsed;
    std::string movedAside;
    if (readable)
        parsed = ParseRegFile(text, kUserRoot, merged);
    if (readable && parsed.damaged) {
        movedAside = KeepAside(file);
        ReportDamage(file, movedAside, parsed.problem);
    }
    // When the new file cannot be written, the damaged one goes back where
    // it was, so its readable part is not lost before the next attempt.
    auto undoAside = [&] {
        if (!movedAside.empty())
            std::rename(movedAside.c_str(), file.c_str());
    };
    Replay(merged);

    std::string tmp = file + ".tmp-" + std::to_string(getpid());
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        LONG e = Win32FromErrno(errno);
        undoAside();
        return e;
    }
    // A rewrite keeps the mode the user gave the file.
    bool ok = (!exists || fchmod(fd, old.st_mode & 07777) == 0) &&
              WriteAll(fd, WriteRegFile(merged, kUserRoot)) && fsync(fd) == 0;
    int writeErrno = errno;
    struct stat written;
    CFileStamp newStamp = fstat(fd, &written) == 0 ? StampOf(written) : CFileStamp();
    if (close(fd) != 0 && ok) {
        ok = false;
        writeErrno = errno;
    }
    if (!ok || std::rename(tmp.c_str(), file.c_str()) != 0) {
        if (ok)
            writeErrno = errno;
        unlink(tmp.c_str());
        undoAside();
        return Win32FromErrno(writeErrno);
    }
    int dfd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    // The merged tree becomes this process's view; it holds our changes.
    m_user.Swap(merged);
    m_stamp = newStamp;
    m_journal.clear();
    m_cleanWriteNeeded = false;
    m_unreadable = false;
    return ERROR_SUCCESS;
}

// Holds the store's lock; shows the messages collected meanwhile once the
// outermost lock of this thread is released.
class CStoreLock {
public:
    explicit CStoreLock(CRegistryStore& store) : m_store(store) {
        m_store.m_mutex.lock();
        ++t_depth;
    }
    ~CStoreLock() {
        std::vector<std::string> reports;
        if (--t_depth == 0)
            reports = m_store.TakeReports();
        m_store.m_mutex.unlock();
        for (const std::string& text : reports)
            AfxMessageBox(text, MB_ICONWARNING);
    }
    CStoreLock(const CStoreLock&) = delete;
    CStoreLock& operator=(const CStoreLock&) = delete;

private:
    CRegistryStore& m_store;
    static thread_local int t_depth;
};
thread_local int CStoreLock::t_depth = 0;

// A handle whose key is gone: deleted, or the classes root not made yet.
LONG MissingKeyError(HKEY key) {
    return key == HKEY_CLASSES_ROOT ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
}

bool HasWriteAccess(REGSAM access) {
    return (access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0;
}

// Splits "a\b\c" into names; empty parts (doubled or trailing '\') are skipped.
std::vector<std::string> SplitPath(const char* subKey) {
    std::vector<std::string> parts;
    if (!subKey)
        return parts;
    std::string_view s(subKey);
    size_t start = 0;
    while (start <= s.size()) {
        size_t bs = s.find('\\', start);
        size_t end = bs == std::string_view::npos ? s.size() : bs;
        if (end > start)
            parts.emplace_back(s.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

LONG CheckPath(const RegKeyHandle& base, const std::vector<std::string>& parts) {
    for (const std::string& p : parts)
        if (p.size() > kRegMaxKeyNameLength)
            return ERROR_FILENAME_EXCED_RANGE;
    if (base.path.size() + parts.size() > kRegMaxKeyDepth)
        return ERROR_FILENAME_EXCED_RANGE;
    for (const std::string& p : parts)
        if (!IsValidRegKeyName(p))
            return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD, REGSAM desired, PHKEY result) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    CRegistryStore& store = CRegistryStore::Instance();
    CStoreLock lock(store);
    RegKeyHandle* base = store.Validate(key);
    if (!base)
        return ERROR_INVALID_HANDLE;
    if (store.IsPredefined(key))
        store.RefreshIfChanged();
    if (base->root == 1 && HasWriteAccess(desired))
        return ERROR_ACCESS_DENIED;
    std::vector<std::string> parts = SplitPath(subKey);
    if (LONG e = CheckPath(*base, parts); e != ERROR_SUCCESS)
        return e == ERROR_INVALID_PARAMETER ? ERROR_FILE_NOT_FOUND : e;
    CRegKeyNode* node = store.Resolve(*base);
    if (!node)
        return MissingKeyError(key);
    std::vector<std::string> path = base->path;
    for (const std::string& p : parts) {
        node = node->FindSubKey(p);
        if (!node)
            return ERROR_FILE_NOT_FOUND;
        path.push_back(node->Name());
    }
    *result = store.NewHandle(base->root, std::move(path), desired);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD, char*, DWORD, REGSAM desired, void*,
                    PHKEY result, LPDWORD disposition) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    CRegistryStore& store = CRegistryStore::Instance();
    CStoreLock lock(store);
    RegKeyHandle* base = store.Validate(key);
    if (!base)
        return ERROR_INVALID_HANDLE;
    if (store.IsPredefined(key))
        store.RefreshIfChanged();
    std::vector<std::string> parts = SplitPath(subKey);
    if (LONG e = CheckPath(*base, parts); e != ERROR_SUCCESS)
        return e;
    CRegKeyNode* node = store.ResolveOrCreateBase(key, *base);
    if (!node)
        return MissingKeyError(key);
    std::vector<std::string> path = base->path;
    bool createdAny = false;
    for (const std::string& p : parts) {
        CRegKeyNode* next = node->FindSubKey(p);
        if (!next) {
            if (base->root == 1 || !(base->access & KEY_CREATE_SUB_KEY))
                return ERROR_ACCESS_DENIED;
            next = &node->CreateSubKey(p);
            createdAny = true;
        }
        node = next;
        path.push_back(node->Name());
    }
    if (base->root == 1 && HasWriteAccess(desired))
        return ERROR_ACCESS_DENIED;
    if (createdAny)
        store.Record({CRegChange::CreateKey, path, {}});
    if (disposition)
        *disposition = createdAny ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = store.NewHandle(base->root, std::move(path), desired);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    CRegistryStore& store = CRegistryStore::Instance();
    CStoreLock lock(store);
    return store.CloseHandle(key);
}

LONG RegQueryValueEx(HKEY key, const char* valueName, LPDWORD, LPDWORD type, BYTE* data,
                     LPDWORD size) {
    CRegistryStore& store = CRegistryStore::Instance();
    CStoreLock lock(store);
    RegKeyHandle* h = store.Validate(key);
    if (!h)
        return ERROR_INVALID_HANDLE;
    if (!(h->access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    CRegKeyNode* node = store.Resolve(*h);
    if (!node)
        return MissingKeyError(key);
    const CRegValue* v = node->FindValue(valueName ? valueName : "");
    if (!v)
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = v->IsRaw() ? REG_NONE : v->type;
    DWORD needed = v->IsRaw() ? 0 : static_cast<DWORD>(v->data.size());
    if (data) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (needed)
            std::memcpy(data, v->data.data(), needed);
    }
    if (size)
        *size = needed;
    return ERROR_SUCCESS;
}

LONG RegSetValueEx(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data,
                   DWORD size) {
    CRegistryStore& store = CRegistryStore::Instance();
    CStoreLock lock(store);
    RegKeyHandle* h = store.Validate(key);
    if (!h)
        return ERROR_INVALID_HANDLE;
    if (h->root == 1 || !(h->access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    std::string name = valueName ? valueName : "";
    if (name.size() > kRegMaxValueNameLength)
        return ERROR_FILENAME_EXCED_RANGE;
    if (!IsValidRegValueName(name))
        return ERROR_INVALID_PARAMETER;
    if (size > kRegMaxValueSize)
        return ERROR_NOT_ENOUGH_QUOTA;
    if (size && !data)
        return ERROR_INVALID_PARAMETER;
    CRegKeyNode* node = store.Resolve(*h);
    if (!node)
        return MissingKeyError(key);
    CRegValue v;
    v.name = name;
    v.type = type;
    if (size)
        v.data.assign(data, data + size);
    node->SetValue(v);
    store.Record({CRegChange::SetValue, h->path, std::move(v)});
    return ERROR_SUCCESS;
}

LONG RegDeleteValue(HKEY key, const char* valueName) {
    CRegistryStore& store = CRegistryStore::Instance();
    CStoreLock lock(store);
    RegKeyHandle* h = store.Validate(key);
    if (!h)
        return ERROR_INVALID_HANDLE;
    if (h->root == 1 || !(h->access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    CRegKeyNode* node = store.Resolve(*h);
    if (!node)
        return MissingKeyError(key);
    CRegValue v;
    v.name = valueName ? valueName : "";
    if (!node->RemoveValue(v.name))
        return ERROR_FILE_NOT_FOUND;
    store.Record({CRegChange::DeleteValue, h->path, std::move(v)});
    return ERROR_SUCCESS;
}

LONG RegDeleteKey(HKEY key, const char* subKey) {
    CRegistryStore& store = CRegistryStore::Instance();
    CStoreLock lock(store);
    RegKeyHandle* h = store.Validate(key);
    if (!h)
        return ERROR_INVALID_HANDLE;
    if (h->root == 1)
        return ERROR_ACCESS_DENIED;
    std::vector<std::string> parts = SplitPath(subKey);
    if (parts.empty())
        return ERROR_INVALID_PARAMETER;
    CRegKeyNode* parent = store.Resolve(*h);
    if (!parent)
        return MissingKeyError(key);
    std::vector<std::string> path = h->path;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        parent = parent->FindSubKey(parts[i]);
        if (!parent)
            return ERROR_FILE_NOT_FOUND;
        path.push_back(parent->Name());
    }
    CRegKeyNode* node = parent->FindSubKey(parts.back());
    if (!node)
        return ERROR_FILE_NOT_FOUND;
    if (!node->SubKeys().empty())
        return ERROR_ACCESS_DENIED;
    path.push_back(node->Name());
    parent->RemoveSubKey(parts.back());
    store.Record({CRegChange::DeleteKey, std::move(path), {}});
    return ERROR_SUCCESS;
}

LONG RegEnumValue(HKEY key, DWORD index, char* name, LPDWORD nameLength, LPDWORD, LPDWORD type,
                  BYTE* data, LPDWORD size) {
    if (!name || !nameLength)
        return ERROR_INVALID_PARAMETER;
    CRegistryStore& store = CRegistryStore::Instance();
    CStoreLock lock(store);
    RegKeyHandle* h = store.Validate(key);
    if (!h)
        return ERROR_INVALID_HANDLE;
    if (!(h->access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    CRegKeyNode* node = store.Resolve(*h);
    if (!node)
        return MissingKeyError(key);
    if (index >= node->Values().size())
        return ERROR_NO_MORE_ITEMS;
    const CRegValue& v = node->Values()[index];
    if (v.name.size() + 1 > *nameLength) {
        *nameLength = static_cast<DWORD>(v.name.size());
        return ERROR_MORE_DATA;
    }
    std::memcpy(name, v.name.c_str(), v.name.size() + 1);
    *nameLength = static_cast<DWORD>(v.name.size());
    if (type)
        *type = v.IsRaw() ? REG_NONE : v.type;
    DWORD needed = v.IsRaw() ? 0 : static_cast<DWORD>(v.data.size());
    if (data && size) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (needed)
            std::memcpy(data, v.data.data(), needed);
    }
    if (size)
        *size = needed;
    return ERROR_SUCCESS;
}

LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, LPDWORD nameLength, LPDWORD, char* keyClass,
                  LPDWORD classLength, FILETIME* lastWriteTime) {
    if (!name || !nameLength)
        return ERROR_INVALID_PARAMETER;
    CRegistryStore& store = CRegistryStore::Instance();
    CStoreLock lock(store);
    RegKeyHandle* h = store.Validate(key);
    if (!h)
        return ERROR_INVALID_HANDLE;
    if (!(h->access & KEY_ENUMERATE_SUB_KEYS))
        return ERROR_ACCESS_DENIED;
    CRegKeyNode* node = store.Resolve(*h);
    if (!node)
        return MissingKeyError(key);
    if (index >= node->SubKeys().size())
        return ERROR_NO_MORE_ITEMS;
    const std::string& n = node->SubKeys()[index]->Name();
    if (n.size() + 1 > *nameLength) {
        *nameLength = static_cast<DWORD>(n.size());
        return ERROR_MORE_DATA;
    }
    std::memcpy(name, n.c_str(), n.size() + 1);
    *nameLength = static_cast<DWORD>(n.size());
    if (keyClass && classLength && *classLength)
        keyClass[0] = 0;
    if (classLength)
        *classLength = 0;
    if (lastWriteTime)
        *lastWriteTime = FILETIME{};
    return ERROR_SUCCESS;
}

std::vector<std::string> RegSubKeyNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[256];  // key names are at most 255 bytes
        DWORD length = sizeof name;
        if (RegEnumKeyEx(key, index, name, &length) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

LONG RegFlushKey(HKEY key) {
    CRegistryStore& store = CRegistryStore::Instance();
    CStoreLock lock(store);
    RegKeyHandle* h = store.Validate(key);
    if (!h)
        return ERROR_INVALID_HANDLE;
    if (h->root == 1)
        return ERROR_SUCCESS;
    store.Root(0);
    return store.SaveLocked();
}

std::string RegErrorText(LONG error) {
    unsigned id = 0;
    switch (error) {
        case ERROR_FILENAME_EXCED_RANGE:
            id = IDS_REG_NAME_TOO_LONG;
            break;
        case ERROR_NOT_ENOUGH_QUOTA:
            id = IDS_REG_VALUE_TOO_LARGE;
            break;
        case ERROR_KEY_DELETED:
            id = IDS_REG_KEY_DELETED;
            break;
        default:
            break;
    }
    if (id) {
        std::string format = LoadResString(id);
        auto text = va::FormatMessageString(
            format,
            {int64_t(kRegMaxKeyNameLength), int64_t(kRegMaxKeyDepth), int64_t(kRegMaxValueSize)});
        if (text)
            return *text;
    }
    std::string text = FormatSystemMessage(HRESULT_FROM_WIN32(static_cast<uint32_t>(error)));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (text.empty())
        text = "Registry error " + std::to_string(error);
    return text;
}

std::string RegUserFilePath() {
    CRegistryStore& store = CRegistryStore::Instance();
    CStoreLock lock(store);
    return store.UserFile();
}

LONG RegSetFilePaths(const std::string& userFile, const std::string& machineFile) {
    CRegistryStore& store = CRegistryStore::Instance();
    CStoreLock lock(store);
    return store.SetFiles(userFile, machineFile);
}

LONG RegReload() {
    CRegistryStore& store = CRegistryStore::Instance();
    CStoreLock lock(store);
    return store.Reload();
}
