#pragma once
// The player's own media locator: finds a timeline's source files that were
// moved, by looking for them under their bare names in the search folders,
// in the order the folders were added. Each locator caches what it found.
#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "platform/des/Des.h"

class CVaMediaLocatorImpl : public IMediaLocator {
public:
    CVaMediaLocatorImpl() = default;
    CVaMediaLocatorImpl(const CVaMediaLocatorImpl&) = delete;
    CVaMediaLocatorImpl& operator=(const CVaMediaLocatorImpl&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    // S_OK: the input names the file; S_FALSE: *found names it instead;
    // E_FAIL: not found (*found is the input). The filter is not used.
    HRESULT FindMediaFile(const std::string& input, const std::string& filter, std::string* found,
                          long flags) override;
    // Appends a non-empty folder (S_OK); an empty one is ignored (S_FALSE).
    HRESULT AddFoundLocation(const std::string& folder) override;

    const std::vector<std::string>& SearchFolders() const { return m_folders; }

    // True when a regular file of that name exists (a folder or device is no file).
    static bool FileExists(const std::string& name);
    // The name without its folders when it is absolute ("/" and "\" both
    // separate, drive letters count); a relative name unchanged.
    static std::string BareName(const std::string& name);

private:
    ~CVaMediaLocatorImpl() = default;

    std::atomic<ULONG> m_refs{1};
    std::vector<std::string> m_folders;
    std::map<std::string, std::string> m_cache;
};
