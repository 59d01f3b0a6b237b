#pragma once
// Helpers shared by the tests.
#include <functional>
#include <string>
#include <vector>

#include "support/MessageBox.h"

namespace vtest {

// Captures what the reporter shows while it lives.
class CapturedMessages {
public:
    CapturedMessages();
    ~CapturedMessages();
    struct Message {
        std::string text;
        unsigned type;
        unsigned helpId;
    };
    const std::vector<Message>& Messages() const { return m_messages; }

private:
    std::vector<Message> m_messages;
    MessageBoxHandler m_previous;
};

// A fresh temporary folder, removed with its contents at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
// Runs a program with arguments (no shell), feeding 'input' to its standard
// input, and collects both outputs.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = {});
// Runs the built velotrax program.
ProcessResult RunVelotrax(const std::vector<std::string>& args, const std::string& input = {});

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

}  // namespace vtest
