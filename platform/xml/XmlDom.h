#pragma once
// The XML document services of the platform: DOM documents, nodes, node
// lists, XPath 1.0 selection and XSLT 1.0 transformations, offered as
// counted interfaces over libxml2 and libxslt. Documents load from a file
// path, a file:// URL, an http:// or https:// URL (fetched with libcurl)
// or from text.
//
// Loading is safe against hostile documents: the parser never touches the
// network or the file system by itself (no external entities, no DTD
// loading), libxml2's limits on entity expansion and nesting depth stay in
// force, and a document larger than kMaxXmlDocumentSize is refused before
// it is parsed.
//
// Failed calls return a failed HRESULT and leave a description in the
// thread's error object (SetErrorInfo). Strings are UTF-8 both ways.
#include <cstddef>
#include <string>

#include "platform/com/ComPtr.h"

// Documents bigger than this are refused, whatever their source.
constexpr size_t kMaxXmlDocumentSize = 32u * 1024u * 1024u;
// Limits of an http:// or https:// fetch.
constexpr long kXmlConnectTimeoutMs = 10000;
constexpr long kXmlFetchTimeoutMs = 30000;

// The value of an attribute: absent (null), empty or a string.
struct XmlVariant {
    enum class Kind { Empty, Null, String };
    Kind kind = Kind::Empty;
    std::string str;

    void Clear() {
        kind = Kind::Empty;
        str.clear();
    }
};

struct IXMLDOMNodeList;

// Node types as the DOM numbers them.
enum XmlNodeType {
    NODE_INVALID = 0,
    NODE_ELEMENT = 1,
    NODE_ATTRIBUTE = 2,
    NODE_TEXT = 3,
    NODE_CDATA_SECTION = 4,
    NODE_ENTITY_REFERENCE = 5,
    NODE_PROCESSING_INSTRUCTION = 7,
    NODE_COMMENT = 8,
    NODE_DOCUMENT = 9,
};

struct IXMLDOMNode : IUnknown {
    VA_INTERFACE_ID("2933BF80-7B36-11D2-B20E-00C04F983E60");
    virtual HRESULT get_nodeName(std::string* name) = 0;
    virtual HRESULT get_nodeType(XmlNodeType* type) = 0;
    // The text of the node and all its descendants; for elements and
    // documents without leading and trailing white space.
    virtual HRESULT get_text(std::string* text) = 0;
    // The node serialized as XML.
    virtual HRESULT get_xml(std::string* xml) = 0;
    // XPath 1.0 with this node as the context node. An expression that is
    // not valid or does not give a node set fails with E_FAIL.
    virtual HRESULT selectNodes(const std::string& expression, IXMLDOMNodeList** list) = 0;
    // The first node of the selection; S_FALSE and null when none matches.
    virtual HRESULT selectSingleNode(const std::string& expression, IXMLDOMNode** node) = 0;
};

struct IXMLDOMNodeList : IUnknown {
    VA_INTERFACE_ID("2933BF82-7B36-11D2-B20E-00C04F983E60");
    virtual HRESULT get_length(long* length) = 0;
    // S_FALSE and null for an index outside the list.
    virtual HRESULT get_item(long index, IXMLDOMNode** node) = 0;
};

struct IXMLDOMElement : IXMLDOMNode {
    VA_INTERFACE_ID("2933BF86-7B36-11D2-B20E-00C04F983E60");
    // The attribute's value; a null variant (and S_FALSE) when absent.
    virtual HRESULT getAttribute(const std::string& name, XmlVariant* value) = 0;
};

struct IXMLDOMAttribute : IXMLDOMNode {
    VA_INTERFACE_ID("2933BF85-7B36-11D2-B20E-00C04F983E60");
    virtual HRESULT get_value(XmlVariant* value) = 0;
};

struct IXMLDOMDocument : IXMLDOMNode {
    VA_INTERFACE_ID("2933BF81-7B36-11D2-B20E-00C04F983E60");
    virtual HRESULT put_async(bool async) = 0;
    virtual HRESULT get_async(bool* async) = 0;
    // Loads from a path or URL. *loaded tells whether the document was
    // read and parsed; a document that was not keeps no content and
    // describes why in get_parseError. Returns S_FALSE when not loaded.
    virtual HRESULT load(const std::string& source, bool* loaded) = 0;
    // Parses text (UTF-8, whatever its declaration says).
    virtual HRESULT loadXML(const std::string& text, bool* loaded) = 0;
    // Why the last load failed, empty after a successful one.
    virtual HRESULT get_parseError(std::string* reason) = 0;
    virtual HRESULT get_documentElement(IXMLDOMElement** element) = 0;
};

struct IXSLProcessor;

struct IXSLTemplate : IUnknown {
    VA_INTERFACE_ID("2933BF93-7B36-11D2-B20E-00C04F983E60");
    // Compiles the stylesheet held by the document (or node).
    virtual HRESULT putref_stylesheet(IXMLDOMNode* stylesheet) = 0;
    virtual HRESULT createProcessor(IXSLProcessor** processor) = 0;
};

struct IXSLProcessor : IUnknown {
    VA_INTERFACE_ID("2933BF92-7B36-11D2-B20E-00C04F983E60");
    // The node to transform (a document or any node of one).
    virtual HRESULT put_input(IUnknown* input) = 0;
    // The document that receives the result.
    virtual HRESULT put_output(IUnknown* output) = 0;
    // Runs the transformation; *done is false when it stopped on an error.
    // The stylesheet cannot read files or reach the network.
    virtual HRESULT transform(bool* done) = 0;
};

// Makes a new, empty document (free-threaded documents may be handed
// between threads; the wrappers hold no locks either way).
HRESULT XmlCreateDocument(bool freeThreaded, IXMLDOMDocument** document);
// Loads text the way loadXML does, except that elements left open (a
// missing or misnamed end tag, a document cut short after its last
// complete tag) are closed instead of failing the load; any other error,
// and every limit, fails it as in loadXML. 'encoding' names the text's
// encoding; null reads the document's own declaration. Returns S_FALSE
// with the reason in the thread's error object when not loaded.
HRESULT XmlLoadClosingOpenElements(IXMLDOMDocument* document, const std::string& text,
                                   const char* encoding, bool* loaded);
// Folds a document in place: the ASCII capitals of element and attribute
// names in lower case; each element holds its attributes (values as text,
// entities expanded), its child elements, then its text and CDATA content
// as text; the DTD, comments, processing instructions, entity references
// and namespaces other than the XML one go. A name with a prefix other
// than "xml", a name that is no QName by libxml2's older rules, or an
// attribute named "xmlns" once folded leaves the document empty and
// returns S_FALSE (as a stylesheet doing the same stops there).
HRESULT XmlFoldNames(IXMLDOMDocument* document);
// Makes a new stylesheet template.
HRESULT XmlCreateTemplate(IXSLTemplate** xslTemplate);
// Prepares the engine once per process; false when it cannot be used.
bool XmlEngineAvailable();
