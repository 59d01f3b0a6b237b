#include "timeline/VaMediaLocatorImpl.h"

#include <sys/stat.h>

#include "support/Strings.h"

HRESULT CVaMediaLocatorImpl::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (riid != IUnknown::iid && riid != IMediaLocator::iid)
        return E_NOINTERFACE;
    *ppv = static_cast<IMediaLocator*>(this);
    AddRef();
    return S_OK;
}

ULONG CVaMediaLocatorImpl::AddRef() {
    return ++m_refs;
}

ULONG CVaMediaLocatorImpl::Release() {
    ULONG n = --m_refs;
    if (n == 0)
        delete this;
    return n;
}

bool CVaMediaLocatorImpl::FileExists(const std::string& name) {
    struct stat st {};
    return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string CVaMediaLocatorImpl::BareName(const std::string& name) {
    bool absolute = !name.empty() && (name[0] == '/' || name[0] == '\\');
    if (!absolute && !va::IsWindowsFullPath(name))
        return name;
    return std::string(va::FileNamePart(name));
}

HRESULT CVaMediaLocatorImpl::FindMediaFile(const std::string& input, const std::string&,
                                           std::string* found, long flags) {
    if (!found)
        return E_POINTER;
    if (flags & SFN_VALIDATEF_POPUP)
        return E_NOTIMPL;  // no user interface here
    if (input.empty())
        return E_INVALIDARG;
    *found = input;
    if (!(flags & SFN_VALIDATEF_CHECK))
        return S_OK;
    auto cached = m_cache.find(input);
    if (cached != m_cache.end()) {
        *found = cached->second;
        return cached->second == input ? S_OK : S_FALSE;
    }
    if (FileExists(input)) {
        m_cache[input] = input;
        return S_OK;
    }
    if (!(flags & SFN_VALIDATEF_NOFIND)) {
        std::string bare = BareName(input);
        // Windows-made timelines separate folders with '\'; here that is '/'.
        for (char& c : bare)
            if (c == '\\')
                c = '/';
        while (!bare.empty() && bare[0] == '/')
            bare.erase(0, 1);
        if (!bare.empty()) {
            for (const std::string& folder : m_folders) {
                bool separated = folder.back() == '/' || folder.back() == '\\';
                std::string candidate = folder + (separated ? "" : "/") + bare;
                if (FileExists(candidate)) {
                    m_cache[input] = candidate;
                    *found = candidate;
                    return S_FALSE;
                }
            }
        }
    }
    return E_FAIL;
}

HRESULT CVaMediaLocatorImpl::AddFoundLocation(const std::string& folder) {
    if (folder.empty())
        return S_FALSE;
    m_folders.push_back(folder);
    return S_OK;
}
