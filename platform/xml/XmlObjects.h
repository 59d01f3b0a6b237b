#pragma once
// Internal to the XML layer: the libxml2 objects behind the interfaces.
#include <libxml/tree.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/xml/XmlDom.h"

namespace va::xml {

// A parsed document shared by every node object taken from it, so that
// nodes stay usable after their document object has loaded another one.
using DocHolder = std::shared_ptr<xmlDoc>;
DocHolder HoldDoc(xmlDocPtr doc);
DocHolder NewEmptyDoc();

// Gives the layer's own objects access to the libxml2 node they stand for.
struct IXmlNodeAccess : IUnknown {
    VA_INTERFACE_ID("6B1E41C2-3F0A-4C59-9D3E-51C7A8E0B214");
    virtual xmlNodePtr RawNode() = 0;
    virtual DocHolder Owner() = 0;
    // Documents only: takes over 'doc' as the new content.
    virtual HRESULT SetContent(DocHolder doc) = 0;
};

// Makes the node object that fits the node's type.
CComPtr<IXMLDOMNode> WrapNode(const DocHolder& doc, xmlNodePtr node);

// Fails with hr after leaving 'description' in the thread's error object.
HRESULT Fail(HRESULT hr, const std::string& description);

// Collects the messages libxml2 and libxslt raise on this thread while it
// lives, and keeps them from being printed.
class CErrorCapture {
public:
    CErrorCapture();
    ~CErrorCapture();
    CErrorCapture(const CErrorCapture&) = delete;
    CErrorCapture& operator=(const CErrorCapture&) = delete;

    // A whole message (the first one is kept).
    void Add(std::string message);
    // The libxml2 error number of an error raised (a few dozen distinct ones are kept).
    void AddCode(int code);
    const std::vector<int>& Codes() const { return m_codes; }
    // A piece of a message written in several calls.
    void AddPiece(const char* piece);
    // The first message, or 'fallback' when there was none.
    std::string First(const std::string& fallback) const;

private:
    std::string m_first;
    std::string m_pieces;
    std::vector<int> m_codes;
    void* m_previousContext;
    void* m_previousHandler;
    void* m_previousGenericContext;
    void* m_previousGeneric;
    CErrorCapture* m_outer;
};

// The capture active on this thread, if any.
CErrorCapture* CurrentErrorCapture();

// The security settings of every stylesheet: no files, no network.
struct _xsltSecurityPrefs* LockedDownPrefs();

// Prepares libxml2 and libxslt once per process.
void InitXmlEngine();

}  // namespace va::xml
