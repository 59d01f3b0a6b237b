#include "platform/xml/XmlSource.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/xml/XmlDom.h"
#include "support/Strings.h"

namespace va::xml {
namespace {

std::string TooLarge(size_t maxBytes) {
    return "The document is larger than the limit of " + std::to_string(maxBytes) + " bytes.";
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

struct FetchState {
    std::string* content;
    size_t maxBytes;
    bool tooLarge = false;
    // Content type check, made once at the end of the final response's headers.
    CURL* curl = nullptr;
    const std::function<bool(const std::string&)>* wanted = nullptr;
    std::string* contentType = nullptr;
    bool decided = false;
    bool refused = false;
};

// Decides once the final (2xx) response's headers are in.
bool Decide(FetchState& state) {
    if (state.decided || !state.wanted)
        return !state.refused;
    long code = 0;
    curl_easy_getinfo(state.curl, CURLINFO_RESPONSE_CODE, &code);
    if (code < 200 || code >= 300)
        return true;  // redirects and failures go their own way
    state.decided = true;
    char* type = nullptr;
    curl_easy_getinfo(state.curl, CURLINFO_CONTENT_TYPE, &type);
    *state.contentType = type ? type : "";
    state.refused = !(*state.wanted)(*state.contentType);
    return !state.refused;
}

size_t ReadHeader(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<FetchState*>(user);
    const size_t n = size * count;
    // The blank line that ends a header block.
    if ((n == 2 && data[0] == '\r' && data[1] == '\n') || (n == 1 && data[0] == '\n'))
        return Decide(*state) ? n : 0;
    return n;
}

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<FetchState*>(user);
    size_t n = size * count;
    if (!Decide(*state))
        return 0;
    if (state->content->size() + n > state->maxBytes) {
        state->tooLarge = true;
        return 0;  // aborts the transfer
    }
    state->content->append(data, n);
    return n;
}

}  // namespace

bool FileUrlToPath(const std::string& url, std::string& path) {
    if (!va::StartsWithNoCase(url, "file://"))
        return false;
    std::string rest = url.substr(7);
    if (va::StartsWithNoCase(rest, "localhost/"))
        rest.erase(0, 9);
    if (rest.empty() || rest[0] != '/')
        return false;  // another host
    path.clear();
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() && HexValue(rest[i + 1]) >= 0 &&
            HexValue(rest[i + 2]) >= 0) {
            path += static_cast<char>(HexValue(rest[i + 1]) * 16 + HexValue(rest[i + 2]));
            i += 2;
        } else if (rest[i] == '?' || rest[i] == '#') {
            break;
        } else {
            path += rest[i];
        }
    }
    return path.find('\0') == std::string::npos;
}

bool ReadLocalFile(const std::string& path, size_t maxBytes, std::string& content,
                   std::string& error) {
    content.clear();
    // Without blocking: opening a pipe with no writer would wait forever.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = "Cannot open \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            ::close(fd);
            error = "\"" + path + "\" is a folder.";
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            ::close(fd);
            error = "\"" + path + "\" is not a regular file (a pipe, socket or device).";
            return false;
        }
        if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
            ::close(fd);
            error = TooLarge(maxBytes);
            return false;
        }
        content.reserve(static_cast<size_t>(st.st_size));
    }
    // The file may grow while it is read: read in pieces and stop past the limit.
    char buffer[65536];
    while (true) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = "Cannot read \"" + path + "\": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        if (content.size() + static_cast<size_t>(n) > maxBytes) {
            ::close(fd);
            content.clear();
            content.shrink_to_fit();
            error = TooLarge(maxBytes);
            return false;
        }
        content.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

namespace {

bool Fetch(const std::string& url, size_t maxBytes,
           const std::function<bool(const std::string&)>* wanted, std::string* contentType,
           std::string& content, std::string& error) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    content.clear();
    CURL* curl = curl_easy_init();
    if (!curl) {
        error = "The network library could not be started.";
        return false;
    }
    FetchState state{&content, maxBytes};
    state.curl = curl;
    state.wanted = wanted;
    state.contentType = contentType;
    char curlError[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kXmlConnectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kXmlFetchTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, curlError);
    if (wanted) {
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &ReadHeader);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, &state);
    }
    CURLcode rc = curl_easy_perform(curl);
    if (rc == CURLE_OK)
        Decide(state);  // an answer without a body
    curl_easy_cleanup(curl);
    if (state.refused) {
        content.clear();
        error.clear();
        return false;
    }
    if (rc == CURLE_OK)
        return true;
    content.clear();
    content.shrink_to_fit();
    if (state.tooLarge || rc == CURLE_FILESIZE_EXCEEDED)
        error = TooLarge(maxBytes);
    else
        error = "Cannot fetch \"" + url + "\": " +
                (curlError[0] ? std::string(curlError) : std::string(curl_easy_strerror(rc)));
    return false;
}

}  // namespace

bool FetchUrl(const std::string& url, size_t maxBytes, std::string& content, std::string& error) {
    return Fetch(url, maxBytes, nullptr, nullptr, content, error);
}

bool FetchUrlOfType(const std::string& url, size_t maxBytes,
                    const std::function<bool(const std::string&)>& wanted, std::string& contentType,
                    std::string& content, std::string& error) {
    contentType.clear();
    return Fetch(url, maxBytes, &wanted, &contentType, content, error);
}

bool ReadXmlSource(const std::string& source, size_t maxBytes, std::string& content,
                   std::string& error) {
    if (va::IsUrl(source)) {
        if (va::StartsWithNoCase(source, "http://") || va::StartsWithNoCase(source, "https://"))
            return FetchUrl(source, maxBytes, content, error);
        std::string path;
        if (va::StartsWithNoCase(source, "file://")) {
            if (!FileUrlToPath(source, path)) {
                error = "\"" + source + "\" does not name a local file.";
                return false;
            }
            return ReadLocalFile(path, maxBytes, content, error);
        }
        error = "Documents cannot be loaded from \"" + source + "\".";
        return false;
    }
    if (source.empty()) {
        error = "No document was named.";
        return false;
    }
    return ReadLocalFile(source, maxBytes, content, error);
}

}  // namespace va::xml
