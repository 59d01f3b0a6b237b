#pragma once
// Reads the bytes of a document from a path, a file:// URL or an http://
// or https:// URL, never more than a size limit.
#include <cstddef>
#include <functional>
#include <string>

namespace va::xml {

// Fills 'content' and returns true; on failure returns false with a
// description of the cause in 'error'.
bool ReadXmlSource(const std::string& source, size_t maxBytes, std::string& content,
                   std::string& error);

// Reads a local file, refusing files larger than maxBytes.
bool ReadLocalFile(const std::string& path, size_t maxBytes, std::string& content,
                   std::string& error);

// Fetches an http:// or https:// URL with the connect and transfer
// time-outs of the layer, refusing bodies larger than maxBytes.
bool FetchUrl(const std::string& url, size_t maxBytes, std::string& content, std::string& error);

// FetchUrl that first shows the content type of the answer to 'wanted'
// (the type as served, "" when none) and reads the body only when it says
// yes; otherwise stops after the headers and returns false with 'error'
// empty. 'contentType' receives the type in both cases.
bool FetchUrlOfType(const std::string& url, size_t maxBytes,
                    const std::function<bool(const std::string&)>& wanted, std::string& contentType,
                    std::string& content, std::string& error);

// The local path of a file:// URL ("file:///a/b%20c" → "/a/b c"); false
// for a URL naming another host.
bool FileUrlToPath(const std::string& url, std::string& path);

}  // namespace va::xml
