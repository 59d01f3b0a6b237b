#pragma once
// The in-memory tree of one registry root and its REGEDIT4 text form.
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\software\Korvani]
//   "Count"=dword:0000002a
//   "Name"="a \"quoted\" \\ text"
//   "Data"=hex:01,02,ff
//   "Other"=hex(7):61,00,00
//
// Strings that the quoted form cannot carry (line breaks, control
// characters, inner zeros) are written as hex(1) so nothing is lost; values
// of a form this reader does not know are kept as text and written back
// unchanged.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/registry/Registry.h"

// Whole-file and logical-line limits for reading.
constexpr size_t kRegMaxFileSize = 64 * 1024 * 1024;
constexpr size_t kRegMaxLineLength = 4 * 1024 * 1024;

struct CRegValue {
    std::string name;  // as created; "" is the key's default value
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
    // The right-hand side of a value line of an unknown form, kept verbatim.
    std::string raw;
    bool IsRaw() const { return !raw.empty(); }
};

class CRegKeyNode {
public:
    explicit CRegKeyNode(std::string name = {}) : m_name(std::move(name)) {}
    CRegKeyNode(const CRegKeyNode&) = delete;
    CRegKeyNode& operator=(const CRegKeyNode&) = delete;

    const std::string& Name() const { return m_name; }

    CRegKeyNode* FindSubKey(std::string_view name) const;
    // The sub-key, created (with this spelling) when missing.
    CRegKeyNode& CreateSubKey(std::string_view name, bool* created = nullptr);
    bool RemoveSubKey(std::string_view name);
    const std::vector<std::unique_ptr<CRegKeyNode>>& SubKeys() const { return m_subKeys; }

    const CRegValue* FindValue(std::string_view name) const;
    // Stores the value; an existing value keeps the spelling of its name.
    void SetValue(CRegValue value);
    bool RemoveValue(std::string_view name);
    const std::vector<CRegValue>& Values() const { return m_values; }

    void Clear();
    // Exchanges the contents (not the names) with another node.
    void Swap(CRegKeyNode& other) {
        m_subKeys.swap(other.m_subKeys);
        m_subKeyIndex.swap(other.m_subKeyIndex);
        m_values.swap(other.m_values);
        m_valueIndex.swap(other.m_valueIndex);
    }
    // Number of keys below and values in this subtree (for statistics).
    size_t CountValues() const;

private:
    static std::string Fold(std::string_view name);

    std::string m_name;
    std::vector<std::unique_ptr<CRegKeyNode>> m_subKeys;
    std::unordered_map<std::string, size_t> m_subKeyIndex;  // folded name -> index
    std::vector<CRegValue> m_values;
    std::unordered_map<std::string, size_t> m_valueIndex;
};

struct CRegParseResult {
    bool damaged = false;
    size_t badLines = 0;
    size_t firstBadLine = 0;  // 1-based line number of the first problem
    std::string problem;      // what was wrong first
};

// Reads REGEDIT4 text into 'root' (whose sections are named rootName, e.g.
// "HKEY_CURRENT_USER"). Never fails: whatever cannot be read is skipped and
// the result says the text was damaged.
CRegParseResult ParseRegFile(std::string_view text, std::string_view rootName, CRegKeyNode& root);

// The REGEDIT4 text of the tree.
std::string WriteRegFile(const CRegKeyNode& root, std::string_view rootName);

// True when a key or value name can be stored and read back (no control
// characters, within the length limit).
bool IsValidRegKeyName(std::string_view name);
bool IsValidRegValueName(std::string_view name);
