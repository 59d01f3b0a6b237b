#include "platform/registry/RegFile.h"

#include <cstdio>

#include "support/Strings.h"

// ---- tree -------------------------------------------------------------------

std::string CRegKeyNode::Fold(std::string_view name) {
    return va::ToLowerAscii(name);
}

CRegKeyNode* CRegKeyNode::FindSubKey(std::string_view name) const {
    auto it = m_subKeyIndex.find(Fold(name));
    return it == m_subKeyIndex.end() ? nullptr : m_subKeys[it->second].get();
}

CRegKeyNode& CRegKeyNode::CreateSubKey(std::string_view name, bool* created) {
    std::string folded = Fold(name);
    auto it = m_subKeyIndex.find(folded);
    if (it != m_subKeyIndex.end()) {
        if (created)
            *created = false;
        return *m_subKeys[it->second];
    }
    m_subKeys.push_back(std::make_unique<CRegKeyNode>(std::string(name)));
    m_subKeyIndex.emplace(std::move(folded), m_subKeys.size() - 1);
    if (created)
        *created = true;
    return *m_subKeys.back();
}

bool CRegKeyNode::RemoveSubKey(std::string_view name) {
    auto it = m_subKeyIndex.find(Fold(name));
    if (it == m_subKeyIndex.end())
        return false;
    m_subKeys.erase(m_subKeys.begin() + static_cast<std::ptrdiff_t>(it->second));
    m_subKeyIndex.clear();
    for (size_t i = 0; i < m_subKeys.size(); ++i)
        m_subKeyIndex.emplace(Fold(m_subKeys[i]->m_name), i);
    return true;
}

const CRegValue* CRegKeyNode::FindValue(std::string_view name) const {
    auto it = m_valueIndex.find(Fold(name));
    return it == m_valueIndex.end() ? nullptr : &m_values[it->second];
}

void CRegKeyNode::SetValue(CRegValue value) {
    std::string folded = Fold(value.name);
    auto it = m_valueIndex.find(folded);
    if (it != m_valueIndex.end()) {
        CRegValue& existing = m_values[it->second];
        value.name = std::move(existing.name);
        existing = std::move(value);
        return;
    }
    m_values.push_back(std::move(value));
    m_valueIndex.emplace(std::move(folded), m_values.size() - 1);
}

bool CRegKeyNode::RemoveValue(std::string_view name) {
    auto it = m_valueIndex.find(Fold(name));
    if (it == m_valueIndex.end())
        return false;
    m_values.erase(m_values.begin() + static_cast<std::ptrdiff_t>(it->second));
    m_valueIndex.clear();
    for (size_t i = 0; i < m_values.size(); ++i)
        m_valueIndex.emplace(Fold(m_values[i].name), i);
    return true;
}

void CRegKeyNode::Clear() {
    m_subKeys.clear();
    m_subKeyIndex.clear();
    m_values.clear();
    m_valueIndex.clear();
}

size_t CRegKeyNode::CountValues() const {
    size_t n = m_values.size();
    for (const auto& k : m_subKeys)
        n += k->CountValues();
    return n;
}

namespace {

bool HasControlCharacters(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

bool HasControlCharactersButTab(std::string_view s) {
    for (unsigned char c : s)
        if ((c < 0x20 && c != '\t') || c == 0x7F)
            return true;
    return false;
}

}  // namespace

bool IsValidRegKeyName(std::string_view name) {
    return !name.empty() && name.size() <= kRegMaxKeyNameLength &&
           name.find('\\') == std::string_view::npos && !HasControlCharacters(name);
}

bool IsValidRegValueName(std::string_view name) {
    return name.size() <= kRegMaxValueNameLength && !HasControlCharacters(name);
}

// ---- reading ----------------------------------------------------------------

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Reads a quoted string starting at s[pos] == '"'; pos ends after the
// closing quote. False when the string does not close.
bool ReadQuoted(std::string_view s, size_t& pos, std::string& out) {
    ++pos;
    out.clear();
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"')
            return true;
        if (c == '\\' && pos < s.size() && (s[pos] == '\\' || s[pos] == '"'))
            c = s[pos++];
        out.push_back(c);
    }
    return false;
}

// "hh,hh,..." into bytes; false on anything malformed or over the size limit.
bool ReadHexBytes(std::string_view s, std::vector<uint8_t>& out) {
    out.clear();
    size_t pos = 0;
    while (true) {
        while (pos < s.size() && IsBlank(s[pos]))
            ++pos;
        if (pos >= s.size())
            return true;
        int hi = HexDigit(s[pos]);
        if (hi < 0)
            return false;
        ++pos;
        int value = hi;
        if (pos < s.size() && HexDigit(s[pos]) >= 0)
            value = hi * 16 + HexDigit(s[pos++]);
        if (out.size() >= kRegMaxValueSize)
            return false;
        out.push_back(static_cast<uint8_t>(value));
        while (pos < s.size() && IsBlank(s[pos]))
            ++pos;
        if (pos >= s.size())
            return true;
        if (s[pos] != ',')
            return false;
        ++pos;
    }
}

bool ReadHexNumber(std::string_view s, uint32_t& value) {
    if (s.empty() || s.size() > 8)
        return false;
    value = 0;
    for (char c : s) {
        int d = HexDigit(c);
        if (d < 0)
            return false;
        value = value * 16 + static_cast<uint32_t>(d);
    }
    return true;
}

// A value form of this reader's ignorance: a word, optionally with a
// parenthesised part, then ':' (for example "qword:..." or "expand(x):...").
bool IsUnknownValueForm(std::string_view s) {
    size_t pos = 0;
    if (s.empty() || !((s[0] >= 'a' && s[0] <= 'z') || (s[0] >= 'A' && s[0] <= 'Z')))
        return false;
    while (pos < s.size() && pos < 64) {
        char c = s[pos];
        if (c == ':')
            return pos > 0;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '(' || c == ')';
        if (!ok)
            return false;
        ++pos;
    }
    return false;
}

class CParser {
public:
    CParser(std::string_view rootName, CRegKeyNode& root) : m_rootName(rootName), m_root(root) {}

    void Run(std::string_view text) {
        if (text.size() > kRegMaxFileSize) {
            Bad(0, "the file is larger than the limit");
            text = text.substr(0, kRegMaxFileSize);
        }
        size_t pos = 0;
        size_t lineNo = 0;
        bool sawHeader = false;
        while (pos < text.size()) {
            size_t startLine = lineNo + 1;
            std::string logical;
            NextLine(text, pos, lineNo, logical);
            if (m_lineTooLong) {
                m_lineTooLong = false;
                Bad(startLine, "a line is longer than the limit");
                continue;
            }
            std::string_view line = TrimBlanks(logical);
            if (line.empty() || line[0] == ';')
                continue;
            if (HasControlCharactersButTab(line)) {
                Bad(startLine, "a line holds control characters");
                continue;
            }
            if (!sawHeader) {
                sawHeader = true;
                if (line == "REGEDIT4" || line == "Windows Registry Editor Version 5.00")
                    continue;
                Bad(startLine, "the REGEDIT4 header is missing");
            }
            if (line[0] == '[')
                KeyLine(line, startLine);
            else if (line[0] == '"' || line[0] == '@')
                ValueLine(line, startLine);
            else if (line == "REGEDIT4")
                continue;
            else
                Bad(startLine, "a line is neither a key nor a value");
        }
    }

    CRegParseResult m_result;

private:
    void Bad(size_t line, const char* what) {
        if (!m_result.damaged) {
            m_result.firstBadLine = line;
            m_result.problem = what;
        }
        m_result.damaged = true;
        ++m_result.badLines;
    }

    // One logical line: a value line whose data is hex continues on the next
    // physical line while it ends in '\'; comments and key lines never do.
    // The last line needs no line break.
    void NextLine(std::string_view text, size_t& pos, size_t& lineNo, std::string& out) {
        out.clear();
        bool first = true;
        bool continues = false;
        while (true) {
            size_t nl = text.find('\n', pos);
            std::string_view physical =
                text.substr(pos, nl == std::string_view::npos ? text.npos : nl - pos);
            pos = nl == std::string_view::npos ? text.size() : nl + 1;
            ++lineNo;
            if (!physical.empty() && physical.back() == '\r')
                physical.remove_suffix(1);
            if (first)
                continues = IsHexValueLine(physical);
            else
                while (!physical.empty() && IsBlank(physical.front()))
                    physical.remove_prefix(1);
            first = false;
            if (out.size() + physical.size() > kRegMaxLineLength) {
                m_lineTooLong = true;
                out.clear();
            } else if (!m_lineTooLong) {
                out.append(physical);
            }
            std::string_view trimmed = physical;
            while (!trimmed.empty() && IsBlank(trimmed.back()))
                trimmed.remove_suffix(1);
            if (!continues || trimmed.empty() || trimmed.back() != '\\' || pos >= text.size()) {
                if (continues && !m_lineTooLong) {
                    while (!out.empty() && IsBlank(out.back()))
                        out.pop_back();
                    if (!out.empty() && out.back() == '\\')
                        out.pop_back();
                }
                return;
            }
            if (!m_lineTooLong) {
                while (!out.empty() && IsBlank(out.back()))
                    out.pop_back();
                out.pop_back();  // the continuation mark
            }
        }
    }

    // "name"=hex:… or "name"=hex(n):… (also @=…): the only lines that continue.
    static bool IsHexValueLine(std::string_view line) {
        line = TrimBlanks(line);
        size_t pos = 0;
        std::string name;
        if (!line.empty() && line[0] == '@')
            pos = 1;
        else if (line.empty() || line[0] != '"' || !ReadQuoted(line, pos, name))
            return false;
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != '=')
            return false;
        return va::StartsWithNoCase(TrimBlanks(line.substr(pos + 1)), "hex");
    }

    void KeyLine(std::string_view line, size_t lineNo) {
        m_current = nullptr;
        if (line.size() < 2 || line.back() != ']') {
            Bad(lineNo, "a key line does not end with ']'");
            return;
        }
        std::string_view inner = line.substr(1, line.size() - 2);
        bool remove = false;
        if (!inner.empty() && inner[0] == '-') {
            remove = true;
            inner.remove_prefix(1);
        }
        std::vector<std::string_view> parts;
        size_t start = 0;
        while (true) {
            size_t bs = inner.find('\\', start);
            parts.push_back(
                inner.substr(start, bs == std::string_view::npos ? inner.npos : bs - start));
            if (bs == std::string_view::npos)
                break;
            start = bs + 1;
        }
        if (!va::EqualsNoCase(parts[0], m_rootName)) {
            Bad(lineNo, "a key belongs to another root");
            return;
        }
        if (parts.size() - 1 > kRegMaxKeyDepth) {
            Bad(lineNo, "a key path is deeper than the limit");
            return;
        }
        for (size_t i = 1; i < parts.size(); ++i) {
            if (!IsValidRegKeyName(parts[i])) {
                Bad(lineNo, "a key name is empty or too long");
                return;
            }
        }
        if (remove) {
            CRegKeyNode* parent = &m_root;
            for (size_t i = 1; parent && i + 1 < parts.size(); ++i)
                parent = parent->FindSubKey(parts[i]);
            if (parent && parts.size() > 1)
                parent->RemoveSubKey(parts.back());
            return;
        }
        CRegKeyNode* node = &m_root;
        for (size_t i = 1; i < parts.size(); ++i)
            node = &node->CreateSubKey(parts[i]);
        m_current = node;
    }

    void ValueLine(std::string_view line, size_t lineNo) {
        if (!m_current) {
            Bad(lineNo, "a value stands outside any key");
            return;
        }
        CRegValue value;
        size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (!ReadQuoted(line, pos, value.name)) {
            Bad(lineNo, "a value name does not close");
            return;
        }
        if (!IsValidRegValueName(value.name)) {
            Bad(lineNo, "a value name is too long");
            return;
        }
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != '=') {
            Bad(lineNo, "a value line has no '='");
            return;
        }
        ++pos;
        std::string_view rhs = TrimBlanks(line.substr(pos));
        if (rhs == "-") {
            m_current->RemoveValue(value.name);
            return;
        }
        if (!rhs.empty() && rhs[0] == '"') {
            std::string text;
            size_t p = 0;
            if (!ReadQuoted(rhs, p, text) || p != rhs.size()) {
                Bad(lineNo, "a string value does not close");
                return;
            }
            if (text.size() + 1 > kRegMaxValueSize) {
                Bad(lineNo, "a value is larger than the limit");
                return;
            }
            value.type = REG_SZ;
            value.data.assign(text.begin(), text.end());
            value.data.push_back(0);
        } else if (va::StartsWithNoCase(rhs, "dword:")) {
            uint32_t v;
            if (!ReadHexNumber(rhs.substr(6), v)) {
                Bad(lineNo, "a dword value is malformed");
                return;
            }
            value.type = REG_DWORD;
            value.data = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        } else if (va::StartsWithNoCase(rhs, "hex:") || va::StartsWithNoCase(rhs, "hex(")) {
            std::string_view bytes;
            if (rhs[3] == ':') {
                value.type = REG_BINARY;
                bytes = rhs.substr(4);
            } else {
                size_t close = rhs.find("):", 4);
                uint32_t type;
                if (close == std::string_view::npos ||
                    !ReadHexNumber(rhs.substr(4, close - 4), type)) {
                    Bad(lineNo, "a hex value type is malformed");
                    return;
                }
                value.type = type;
                bytes = rhs.substr(close + 2);
            }
            if (!ReadHexBytes(bytes, value.data)) {
                Bad(lineNo, "hex value data is malformed or too large");
                return;
            }
        } else if (IsUnknownValueForm(rhs)) {
            value.raw = std::string(rhs);
        } else {
            Bad(lineNo, "a value's data is malformed");
            return;
        }
        m_current->SetValue(std::move(value));
    }

    std::string_view m_rootName;
    CRegKeyNode& m_root;
    CRegKeyNode* m_current = nullptr;
    bool m_lineTooLong = false;
};

// ---- writing ----------------------------------------------------------------

void AppendQuoted(std::string& out, std::string_view s) {
    out.push_back('"');
    for (char c : s) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
}

void AppendHex(std::string& out, const std::vector<uint8_t>& data) {
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < data.size(); ++i) {
        if (i > 0) {
            out.push_back(',');
            if (i % 25 == 0)
                out.append("\\\n  ");
        }
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
}

bool FitsQuotedString(const CRegValue& v) {
    if (v.type != REG_SZ || v.data.empty() || v.data.back() != 0)
        return false;
    for (size_t i = 0; i + 1 < v.data.size(); ++i)
        if (v.data[i] < 0x20 || v.data[i] == 0x7F)
            return false;
    return true;
}

void AppendValue(std::string& out, const CRegValue& v) {
    if (v.name.empty())
        out.push_back('@');
    else
        AppendQuoted(out, v.name);
    out.push_back('=');
    if (v.IsRaw()) {
        out.append(v.raw);
    } else if (FitsQuotedString(v)) {
        AppendQuoted(
            out, std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1));
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        char buf[16];
        uint32_t d = uint32_t(v.data[0]) | uint32_t(v.data[1]) << 8 | uint32_t(v.data[2]) << 16 |
                     uint32_t(v.data[3]) << 24;
        std::snprintf(buf, sizeof buf, "dword:%08x", d);
        out.append(buf);
    } else {
        if (v.type == REG_BINARY) {
            out.append("hex:");
        } else {
            char buf[24];
            std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
            out.append(buf);
        }
        AppendHex(out, v.data);
    }
    out.push_back('\n');
}

void AppendKey(std::string& out, const CRegKeyNode& node, std::string& path) {
    if (!path.empty()) {
        out.push_back('[');
        out.append(path);
        out.append("]\n");
        for (const CRegValue& v : node.Values())
            AppendValue(out, v);
        out.push_back('\n');
    }
    for (const auto& sub : node.SubKeys()) {
        size_t keep = path.size();
        path.push_back('\\');
        path.append(sub->Name());
        AppendKey(out, *sub, path);
        path.resize(keep);
    }
}

}  // namespace

CRegParseResult ParseRegFile(std::string_view text, std::string_view rootName, CRegKeyNode& root) {
    CParser parser(rootName, root);
    parser.Run(text);
    return parser.m_result;
}

std::string WriteRegFile(const CRegKeyNode& root, std::string_view rootName) {
    std::string out = "REGEDIT4\n\n";
    if (!root.Values().empty()) {
        out.push_back('[');
        out.append(rootName);
        out.append("]\n");
        for (const CRegValue& v : root.Values())
            AppendValue(out, v);
        out.push_back('\n');
    }
    std::string path(rootName);
    for (const auto& sub : root.SubKeys()) {
        std::string p = path + "\\" + sub->Name();
        AppendKey(out, *sub, p);
    }
    return out;
}
