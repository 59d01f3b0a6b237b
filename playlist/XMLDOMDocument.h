#pragma once
// A DOM document loaded from a path, a URL or text.
#include "playlist/XMLDOMNode.h"

class CXMLDOMDocument : public CXMLDOMNode {
public:
    CXMLDOMDocument() = default;
    explicit CXMLDOMDocument(const CXMLDOMNode& node);

    bool IsValid() const override { return m_node != nullptr && m_document != nullptr; }

    // Makes a new, empty document, releasing any held before.
    void Create(bool freeThreaded);
    void SetAsync(bool async);
    // Loads a path or URL; false when it could not be read or parsed.
    bool Load(const std::string& source);
    // Parses text; false when it is not a well-formed document.
    bool LoadXML(const std::string& text);
    // Parses text closing elements left open (see XmlLoadClosingOpenElements);
    // encoding null reads the text's own declaration.
    bool LoadXmlClosingOpenElements(const std::string& text, const char* encoding);
    // Why the last load failed; empty after a successful one.
    std::string GetParseError() const;
    bool IsFreeThreaded() const { return m_freeThreaded; }

    IXMLDOMDocument* GetDocument() const { return m_document.Get(); }

private:
    IXMLDOMDocument* CheckedDocument() const;

    CXMLRef<IXMLDOMDocument> m_document;
    bool m_freeThreaded = false;
};
