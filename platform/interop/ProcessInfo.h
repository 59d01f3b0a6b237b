#pragma once
// What the system tells about other processes: the executable a process
// runs (GetModuleFileNameEx of its main module) and the first bytes of a
// named shared-memory object (a file mapping opened for reading).
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

// The full path of the executable of process 'pid' (/proc/PID/exe); empty
// when the process does not run, may not be inspected, or its file was
// deleted or replaced since it started.
std::string GetProcessExecutable(pid_t pid);

// True when process 'pid' exists (it may belong to another user).
bool IsProcessRunning(pid_t pid);

// The first four bytes of the POSIX shared-memory object 'name' (without
// the leading '/'), in the machine's byte order; nothing when the object
// does not exist, cannot be read or holds fewer than four bytes.
std::optional<uint32_t> ReadSharedMemoryWord(const std::string& name);
