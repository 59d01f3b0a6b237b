#include <strings.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/com/Persist.h"

bool CPropertyBag::CNoCase::operator()(const std::string& a, const std::string& b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
}

HRESULT CPropertyBag::Read(const std::string& name, VARIANT* value, IErrorLog*) {
    if (!value)
        return E_POINTER;
    auto it = m_values.find(name);
    if (it == m_values.end())
        return E_INVALIDARG;
    if (value->vt == VT_EMPTY) {
        *value = it->second;
        return S_OK;
    }
    return VariantChangeType(value, &it->second, 0, value->vt);
}

HRESULT CPropertyBag::Write(const std::string& name, const VARIANT* value) {
    if (!value)
        return E_POINTER;
    if (name.empty())
        return E_INVALIDARG;
    if (!m_values.count(name))
        m_order.push_back(name);
    m_values[name] = *value;
    return S_OK;
}

namespace {

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char n = text[++i];
            out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

bool CPropertyBag::LoadFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = "cannot read " + path;
        return false;
    }
    CPropertyBag loaded;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) {
            if (error)
                *error = path + ":" + std::to_string(number) + ": not a Name=Value line";
            return false;
        }
        VARIANT v = VARIANT::FromString(Unescape(line.substr(eq + 1)));
        loaded.Write(line.substr(0, eq), &v);
    }
    m_values = std::move(loaded.m_values);
    m_order = std::move(loaded.m_order);
    return true;
}

bool CPropertyBag::SaveFile(const std::string& path, std::string* error) const {
    std::ostringstream text;
    for (const std::string& name : m_order) {
        VARIANT v;
        if (FAILED(VariantChangeType(&v, &m_values.at(name), 0, VT_BSTR)))
            continue;
        text << name << '=' << Escape(v.bstrVal) << '\n';
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text.str();
    out.close();
    if (!out) {
        if (error)
            *error = "cannot write " + path;
        return false;
    }
    return true;
}
