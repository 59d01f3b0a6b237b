#include "options/AppOptValue.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "options/AppOptStg.h"
#include "support/Strings.h"

void CAppOptValueBool::Write(CAppOptStg& storage, const std::string& section,
                             const std::string& name) const {
    storage.WriteInt(section, name, m_value ? 1 : 0);
}

void CAppOptValueInt::Write(CAppOptStg& storage, const std::string& section,
                            const std::string& name) const {
    storage.WriteInt(section, name, m_value);
}

bool CAppOptValueString::GetBool() const {
    if (m_value.empty())
        return false;
    char first = m_value[0];
    if (first == '0')
        return false;
    if (first >= '1' && first <= '9')
        return true;
    if (first == 'T')
        return true;
    return va::EqualsNoCase(m_value, "on") || va::EqualsNoCase(m_value, "yes") ||
           va::EqualsNoCase(m_value, "ja");
}

int32_t CAppOptValueString::GetInt() const {
    // strtol of a 32-bit long: numbers out of range stop at its limits.
    long v = std::strtol(m_value.c_str(), nullptr, 0);
    return static_cast<int32_t>(std::clamp<long>(v, INT32_MIN, INT32_MAX));
}

double CAppOptValueString::GetDouble() const {
    return std::strtod(m_value.c_str(), nullptr);
}

void CAppOptValueString::Write(CAppOptStg& storage, const std::string& section,
                               const std::string& name) const {
    storage.WriteString(section, name, m_value);
}

CComPtr<IStream> CAppOptValueStream::GetStream() const {
    if (m_stream)
        m_stream->Seek(0, STREAM_SEEK_SET, nullptr);
    return m_stream;
}

void CAppOptValueStream::Write(CAppOptStg& storage, const std::string& section,
                               const std::string& name) const {
    storage.WriteStream(section, name, m_stream.Get());
}
