// Nodes, node lists and documents over libxml2.
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltutils.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

#include "platform/com/ErrorInfo.h"
#include "platform/xml/XmlObjects.h"
#include "platform/xml/XmlSource.h"
#include "support/Strings.h"

namespace va::xml {

// --- engine and errors ----------------------------------------------------------

namespace {

thread_local CErrorCapture* t_capture = nullptr;

std::string Chomp(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

void StructuredError(void* context, xmlErrorPtr error) {
    auto* capture = static_cast<CErrorCapture*>(context);
    if (!capture || !error || !error->message)
        return;
    if (error->level >= XML_ERR_ERROR)
        capture->AddCode(error->code);
    std::string text = Chomp(error->message);
    if (error->line > 0)
        text = "line " + std::to_string(error->line) + ": " + text;
    capture->Add(std::move(text));
}

void GenericError(void*, const char* format, ...) {
    CErrorCapture* capture = t_capture;
    if (!capture)
        return;  // nobody asked: the text is dropped, never printed
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    capture->AddPiece(buffer);
}

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string TrimXmlSpace(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsXmlSpace(s[b]))
        ++b;
    while (e > b && IsXmlSpace(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

}  // namespace

void InitXmlEngine() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        // Messages of libxslt go to the capture of the calling thread
        // instead of stderr (libxml2's are redirected by each capture).
        xsltSetGenericErrorFunc(nullptr, &GenericError);
    });
}

CErrorCapture::CErrorCapture() : m_outer(t_capture) {
    // libxml2 keeps its handlers per thread: install ours on this one.
    m_previousContext = xmlStructuredErrorContext;
    m_previousHandler = reinterpret_cast<void*>(xmlStructuredError);
    m_previousGenericContext = xmlGenericErrorContext;
    m_previousGeneric = reinterpret_cast<void*>(xmlGenericError);
    xmlSetStructuredErrorFunc(this, &StructuredError);
    xmlSetGenericErrorFunc(nullptr, &GenericError);
    t_capture = this;
}

CErrorCapture::~CErrorCapture() {
    xmlSetStructuredErrorFunc(m_previousContext,
                              reinterpret_cast<xmlStructuredErrorFunc>(m_previousHandler));
    xmlSetGenericErrorFunc(m_previousGenericContext,
                           reinterpret_cast<xmlGenericErrorFunc>(m_previousGeneric));
    t_capture = m_outer;
}

void CErrorCapture::Add(std::string message) {
    if (m_first.empty() && !message.empty())
        m_first = std::move(message);
}

void CErrorCapture::AddCode(int code) {
    if (m_codes.size() < 64 && std::find(m_codes.begin(), m_codes.end(), code) == m_codes.end())
        m_codes.push_back(code);
}

void CErrorCapture::AddPiece(const char* piece) {
    if (m_pieces.size() < 1024)
        m_pieces += piece;
}

std::string CErrorCapture::First(const std::string& fallback) const {
    if (!m_first.empty())
        return m_first;
    // Pieces of generic messages, one message a line: joined into one line.
    std::string joined;
    for (const std::string& line : va::Split(m_pieces, '\n')) {
        std::string text = va::Trim(line);
        if (text.empty())
            continue;
        if (!joined.empty())
            joined += "; ";
        joined += text;
    }
    return joined.empty() ? fallback : joined;
}

CErrorCapture* CurrentErrorCapture() {
    return t_capture;
}

HRESULT Fail(HRESULT hr, const std::string& description) {
    SetErrorDescription(description, "XML");
    return hr;
}

DocHolder HoldDoc(xmlDocPtr doc) {
    return DocHolder(doc, [](xmlDocPtr d) { xmlFreeDoc(d); });
}

DocHolder NewEmptyDoc() {
    return HoldDoc(xmlNewDoc(BAD_CAST "1.0"));
}

// --- text ---------------------------------------------------------------------------

namespace {

// Concatenates the text below a node. Entity references are followed into
// the entity's own content (the parser never substitutes them); the total
// is bounded, so an expansion bomb ends in an error, not in exhausted memory.
bool CollectText(xmlNodePtr node, std::string& out, int depth) {
    if (depth > 64)
        return false;
    for (xmlNodePtr child = node; child; child = child->next) {
        switch (child->type) {
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
                if (child->content)
                    out += reinterpret_cast<const char*>(child->content);
                break;
            case XML_ELEMENT_NODE:
                if (child->children && !CollectText(child->children, out, depth + 1))
                    return false;
                break;
            case XML_ENTITY_REF_NODE: {
                // children of a reference point at its entity declaration
                xmlNodePtr decl = child->children;
                if (decl && decl->type == XML_ENTITY_DECL && decl->children &&
                    !CollectText(decl->children, out, depth + 1))
                    return false;
                break;
            }
            default:
                break;
        }
        if (out.size() > kMaxXmlDocumentSize)
            return false;
    }
    return true;
}

}  // namespace

// --- node objects -----------------------------------------------------------------------

namespace {

// Per thread, one XPath context and the compiled expressions already seen:
// making a context registers every XPath function, which costs more than
// most selections themselves.
class CXPathCache {
public:
    ~CXPathCache() {
        for (auto& entry : m_compiled)
            xmlXPathFreeCompExpr(entry.second);
        if (m_context)
            xmlXPathFreeContext(m_context);
    }
    xmlXPathContextPtr Context(xmlDocPtr doc, xmlNodePtr node) {
        if (!m_context)
            m_context = xmlXPathNewContext(doc);
        if (!m_context)
            return nullptr;
        m_context->doc = doc;
        m_context->node = node;
        return m_context;
    }
    // Null when the expression does not compile.
    xmlXPathCompExprPtr Compiled(const std::string& expression) {
        auto it = m_compiled.find(expression);
        if (it != m_compiled.end())
            return it->second;
        xmlXPathCompExprPtr compiled = xmlXPathCtxtCompile(m_context, BAD_CAST expression.c_str());
        if (!compiled)
            return nullptr;
        if (m_compiled.size() >= 64) {
            for (auto& entry : m_compiled)
                xmlXPathFreeCompExpr(entry.second);
            m_compiled.clear();
        }
        m_compiled.emplace(expression, compiled);
        return compiled;
    }

private:
    xmlXPathContextPtr m_context = nullptr;
    std::map<std::string, xmlXPathCompExprPtr> m_compiled;
};

// XPath selection from a context node, in document order.
HRESULT Select(const DocHolder& doc, xmlNodePtr context, const std::string& expression,
               std::vector<xmlNodePtr>& nodes) {
    nodes.clear();
    thread_local CXPathCache cache;
    CErrorCapture capture;
    xmlXPathContextPtr xpath = cache.Context(doc.get(), context);
    if (!xpath)
        return Fail(E_OUTOFMEMORY, "Out of memory.");
    if (expression.find('\0') != std::string::npos)
        return Fail(E_FAIL, "The expression holds a zero character.");
    xmlXPathCompExprPtr compiled = cache.Compiled(expression);
    if (!compiled)
        return Fail(E_FAIL, "The expression \"" + expression +
                                "\" is not valid: " + capture.First("syntax error"));
    xmlXPathObjectPtr result = xmlXPathCompiledEval(compiled, xpath);
    HRESULT hr = S_OK;
    if (!result) {
        hr = Fail(E_FAIL, "The expression \"" + expression +
                              "\" cannot be evaluated: " + capture.First("unknown error"));
    } else if (result->type != XPATH_NODESET) {
        hr = Fail(E_FAIL, "The expression \"" + expression + "\" does not select nodes.");
    } else if (result->nodesetval) {
        xmlXPathNodeSetSort(result->nodesetval);
        for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
            xmlNodePtr n = result->nodesetval->nodeTab[i];
            if (n && n->type != XML_NAMESPACE_DECL)
                nodes.push_back(n);
        }
    }
    if (result)
        xmlXPathFreeObject(result);
    // The context must not keep pointing into a document that may go away.
    xpath->doc = nullptr;
    xpath->node = nullptr;
    return hr;
}

class CXmlNodeList : public CUnknownImpl<CXmlNodeList, IXMLDOMNodeList> {
public:
    CXmlNodeList(DocHolder doc, std::vector<xmlNodePtr> nodes)
        : m_doc(std::move(doc)), m_nodes(std::move(nodes)) {}

    HRESULT get_length(long* length) override {
        if (!length)
            return E_POINTER;
        *length = static_cast<long>(m_nodes.size());
        return S_OK;
    }
    HRESULT get_item(long index, IXMLDOMNode** node) override {
        if (!node)
            return E_POINTER;
        *node = nullptr;
        if (index < 0 || static_cast<size_t>(index) >= m_nodes.size())
            return S_FALSE;
        *node = WrapNode(m_doc, m_nodes[static_cast<size_t>(index)]).Detach();
        return S_OK;
    }

private:
    DocHolder m_doc;
    std::vector<xmlNodePtr> m_nodes;
};

// What every node object shares; I is the most derived DOM interface.
template <class Derived, class I>
class CXmlNodeImpl : public CUnknownImpl<Derived, I, IXmlNodeAccess> {
public:
    CXmlNodeImpl(DocHolder doc, xmlNodePtr node) : m_doc(std::move(doc)), m_node(node) {}

    HRESULT QueryInterfaceExtra(REFIID riid, void** ppv) {
        *ppv = nullptr;
        if (riid != IXMLDOMNode::iid)
            return E_NOINTERFACE;
        *ppv = static_cast<IXMLDOMNode*>(static_cast<I*>(this));
        return S_OK;
    }

    // IXmlNodeAccess
    xmlNodePtr RawNode() override { return m_node; }
    DocHolder Owner() override { return m_doc; }
    HRESULT SetContent(DocHolder) override { return E_NOTIMPL; }

    // IXMLDOMNode
    HRESULT get_nodeName(std::string* name) override {
        if (!name)
            return E_POINTER;
        name->clear();
        switch (m_node->type) {
            case XML_DOCUMENT_NODE:
                *name = "#document";
                break;
            case XML_TEXT_NODE:
                *name = "#text";
                break;
            case XML_CDATA_SECTION_NODE:
                *name = "#cdata-section";
                break;
            case XML_COMMENT_NODE:
                *name = "#comment";
                break;
            default:
                if (m_node->ns && m_node->ns->prefix && m_node->type != XML_ATTRIBUTE_NODE)
                    *name = std::string(reinterpret_cast<const char*>(m_node->ns->prefix)) + ":";
                else if (m_node->type == XML_ATTRIBUTE_NODE && m_node->ns && m_node->ns->prefix)
                    *name = std::string(reinterpret_cast<const char*>(m_node->ns->prefix)) + ":";
                if (m_node->name)
                    *name += reinterpret_cast<const char*>(m_node->name);
        }
        return S_OK;
    }
    HRESULT get_nodeType(XmlNodeType* type) override {
        if (!type)
            return E_POINTER;
        switch (m_node->type) {
            case XML_ELEMENT_NODE:
                *type = NODE_ELEMENT;
                break;
            case XML_ATTRIBUTE_NODE:
                *type = NODE_ATTRIBUTE;
                break;
            case XML_TEXT_NODE:
                *type = NODE_TEXT;
                break;
            case XML_CDATA_SECTION_NODE:
                *type = NODE_CDATA_SECTION;
                break;
            case XML_ENTITY_REF_NODE:
                *type = NODE_ENTITY_REFERENCE;
                break;
            case XML_PI_NODE:
                *type = NODE_PROCESSING_INSTRUCTION;
                break;
            case XML_COMMENT_NODE:
                *type = NODE_COMMENT;
                break;
            case XML_DOCUMENT_NODE:
                *type = NODE_DOCUMENT;
                break;
            default:
                *type = NODE_INVALID;
        }
        return S_OK;
    }
    HRESULT get_text(std::string* text) override {
        if (!text)
            return E_POINTER;
        text->clear();
        std::string collected;
        bool ok = true;
        switch (m_node->type) {
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
            case XML_COMMENT_NODE:
            case XML_PI_NODE:
                if (m_node->content)
                    collected = reinterpret_cast<const char*>(m_node->content);
                break;
            case XML_ATTRIBUTE_NODE:
            case XML_ELEMENT_NODE:
            case XML_DOCUMENT_NODE:
            case XML_ENTITY_REF_NODE:
                if (m_node->children)
                    ok = CollectText(m_node->children, collected, 0);
                break;
            default:
                break;
        }
        if (!ok)
            return Fail(E_OUTOFMEMORY, "The text of the node is too large.");
        if (m_node->type == XML_ELEMENT_NODE || m_node->type == XML_DOCUMENT_NODE)
            *text = TrimXmlSpace(collected);
        else
            *text = std::move(collected);
        return S_OK;
    }
    HRESULT get_xml(std::string* xml) override {
        if (!xml)
            return E_POINTER;
        xml->clear();
        xmlBufferPtr buffer = xmlBufferCreate();
        if (!buffer)
            return Fail(E_OUTOFMEMORY, "Out of memory.");
        if (m_node->type == XML_DOCUMENT_NODE) {
            for (xmlNodePtr child = m_node->children; child; child = child->next) {
                xmlNodeDump(buffer, m_doc.get(), child, 0, 0);
                if (child->next)
                    xmlBufferCCat(buffer, "\n");
            }
        } else {
            xmlNodeDump(buffer, m_doc.get(), m_node, 0, 0);
        }
        xml->assign(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                    static_cast<size_t>(xmlBufferLength(buffer)));
        xmlBufferFree(buffer);
        return S_OK;
    }
    HRESULT selectNodes(const std::string& expression, IXMLDOMNodeList** list) override {
        if (!list)
            return E_POINTER;
        *list = nullptr;
        std::vector<xmlNodePtr> nodes;
        HRESULT hr = Select(m_doc, m_node, expression, nodes);
        if (FAILED(hr))
            return hr;
        CComPtr<IXMLDOMNodeList> result(new CXmlNodeList(m_doc, std::move(nodes)));
        *list = result.Detach();
        return S_OK;
    }
    HRESULT selectSingleNode(const std::string& expression, IXMLDOMNode** node) override {
        if (!node)
            return E_POINTER;
        *node = nullptr;
        std::vector<xmlNodePtr> nodes;
        HRESULT hr = Select(m_doc, m_node, expression, nodes);
        if (FAILED(hr))
            return hr;
        if (nodes.empty())
            return S_FALSE;
        *node = WrapNode(m_doc, nodes.front()).Detach();
        return S_OK;
    }

protected:
    DocHolder m_doc;
    xmlNodePtr m_node;
};

class CXmlNode : public CXmlNodeImpl<CXmlNode, IXMLDOMNode> {
public:
    using CXmlNodeImpl::CXmlNodeImpl;
};

class CXmlElement : public CXmlNodeImpl<CXmlElement, IXMLDOMElement> {
public:
    using CXmlNodeImpl::CXmlNodeImpl;

    HRESULT getAttribute(const std::string& name, XmlVariant* value) override {
        if (!value)
            return E_POINTER;
        value->kind = XmlVariant::Kind::Null;
        value->str.clear();
        for (xmlAttrPtr attr = m_node->properties; attr; attr = attr->next) {
            std::string qualified;
            if (attr->ns && attr->ns->prefix)
                qualified = std::string(reinterpret_cast<const char*>(attr->ns->prefix)) + ":";
            qualified += reinterpret_cast<const char*>(attr->name);
            if (qualified != name)
                continue;
            std::string text;
            if (attr->children && !CollectText(attr->children, text, 0))
                return Fail(E_OUTOFMEMORY, "The attribute value is too large.");
            value->kind = XmlVariant::Kind::String;
            value->str = std::move(text);
            return S_OK;
        }
        return S_FALSE;
    }
};

class CXmlAttribute : public CXmlNodeImpl<CXmlAttribute, IXMLDOMAttribute> {
public:
    using CXmlNodeImpl::CXmlNodeImpl;

    HRESULT get_value(XmlVariant* value) override {
        if (!value)
            return E_POINTER;
        std::string text;
        if (m_node->children && !CollectText(m_node->children, text, 0))
            return Fail(E_OUTOFMEMORY, "The attribute value is too large.");
        value->kind = XmlVariant::Kind::String;
        value->str = std::move(text);
        return S_OK;
    }
};

// The errors that only say an element was left open: an end tag missing or
// naming another element, or the document ending inside elements.
bool OnlyOpenElements(const std::vector<int>& codes) {
    for (int code : codes)
        if (code != XML_ERR_TAG_NAME_MISMATCH && code != XML_ERR_TAG_NOT_FINISHED)
            return false;
    return true;
}

// Parses a document; null with the reason in 'error' (empty when out of
// memory) when it is not well-formed. With 'closeOpenElements', elements
// left open are closed where the parser finds their parent's end or the
// end of the text; every other error still fails the parse.
xmlDocPtr ParseDocument(const std::string& content, const std::string& url, const char* encoding,
                        bool closeOpenElements, std::string& error) {
    CErrorCapture capture;
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    if (!context) {
        error.clear();
        return nullptr;
    }
    // No network, no DTD loading, no entity substitution (so no external
    // entity is ever read), and libxml2's default limits (no XML_PARSE_HUGE).
    int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    if (closeOpenElements)
        options |= XML_PARSE_RECOVER;
    xmlDocPtr doc = xmlCtxtReadMemory(context, content.data(), static_cast<int>(content.size()),
                                      url.empty() ? nullptr : url.c_str(), encoding, options);
    bool accepted = context->wellFormed != 0 || (closeOpenElements && !capture.Codes().empty() &&
                                                 OnlyOpenElements(capture.Codes()));
    xmlFreeParserCtxt(context);
    if (!doc || !accepted || !xmlDocGetRootElement(doc)) {
        if (doc)
            xmlFreeDoc(doc);
        error = capture.First("The document is not well-formed XML.");
        return nullptr;
    }
    return doc;
}

class CXmlDocument : public CXmlNodeImpl<CXmlDocument, IXMLDOMDocument> {
public:
    explicit CXmlDocument(bool freeThreaded) : CXmlNodeImpl(nullptr, nullptr) {
        (void)freeThreaded;  // every document here may move between threads
        Replace(NewEmptyDoc());
    }

    HRESULT SetContent(DocHolder doc) override {
        if (!doc)
            return E_POINTER;
        Replace(std::move(doc));
        m_parseError.clear();
        return S_OK;
    }

    HRESULT put_async(bool async) override {
        m_async = async;
        return S_OK;
    }
    HRESULT get_async(bool* async) override {
        if (!async)
            return E_POINTER;
        *async = m_async;
        return S_OK;
    }
    HRESULT load(const std::string& source, bool* loaded) override {
        if (!loaded)
            return E_POINTER;
        std::string content, error;
        if (!ReadXmlSource(source, kMaxXmlDocumentSize, content, error)) {
            Replace(NewEmptyDoc());
            m_parseError = error;
            *loaded = false;
            return S_FALSE;
        }
        return Parse(content, source, nullptr, loaded);
    }
    HRESULT loadXML(const std::string& text, bool* loaded) override {
        if (!loaded)
            return E_POINTER;
        if (text.size() > kMaxXmlDocumentSize) {
            Replace(NewEmptyDoc());
            m_parseError = "The document is larger than the limit of " +
                           std::to_string(kMaxXmlDocumentSize) + " bytes.";
            *loaded = false;
            return S_FALSE;
        }
        return Parse(text, "", "UTF-8", loaded);
    }
    HRESULT get_parseError(std::string* reason) override {
        if (!reason)
            return E_POINTER;
        *reason = m_parseError;
        return S_OK;
    }
    HRESULT get_documentElement(IXMLDOMElement** element) override {
        if (!element)
            return E_POINTER;
        *element = nullptr;
        xmlNodePtr root = xmlDocGetRootElement(m_doc.get());
        if (!root)
            return S_FALSE;
        CComPtr<IXMLDOMElement> result(WrapNode(m_doc, root));
        *element = result.Detach();
        return S_OK;
    }

private:
    void Replace(DocHolder doc) {
        m_doc = std::move(doc);
        m_node = reinterpret_cast<xmlNodePtr>(m_doc.get());
    }

    HRESULT Parse(const std::string& content, const std::string& url, const char* encoding,
                  bool* loaded) {
        *loaded = false;
        m_parseError.clear();
        Replace(NewEmptyDoc());
        xmlDocPtr doc = ParseDocument(content, url, encoding, false, m_parseError);
        if (!doc)
            return m_parseError.empty() ? Fail(E_OUTOFMEMORY, "Out of memory.") : S_FALSE;
        Replace(HoldDoc(doc));
        *loaded = true;
        return S_OK;
    }

    bool m_async = true;
    std::string m_parseError;
};

}  // namespace

CComPtr<IXMLDOMNode> WrapNode(const DocHolder& doc, xmlNodePtr node) {
    CComPtr<IXMLDOMNode> result;
    if (!node)
        return result;
    switch (node->type) {
        case XML_ELEMENT_NODE:
            result =
                static_cast<IXMLDOMNode*>(static_cast<IXMLDOMElement*>(new CXmlElement(doc, node)));
            break;
        case XML_ATTRIBUTE_NODE:
            result = static_cast<IXMLDOMNode*>(
                static_cast<IXMLDOMAttribute*>(new CXmlAttribute(doc, node)));
            break;
        default:
            result = static_cast<IXMLDOMNode*>(new CXmlNode(doc, node));
    }
    return result;
}

}  // namespace va::xml

bool XmlEngineAvailable() {
    va::xml::InitXmlEngine();
    return true;
}

HRESULT XmlCreateDocument(bool freeThreaded, IXMLDOMDocument** document) {
    if (!document)
        return E_POINTER;
    *document = nullptr;
    va::xml::InitXmlEngine();
    CComPtr<IXMLDOMDocument> result(new va::xml::CXmlDocument(freeThreaded));
    *document = result.Detach();
    return S_OK;
}

HRESULT XmlLoadClosingOpenElements(IXMLDOMDocument* document, const std::string& text,
                                   const char* encoding, bool* loaded) {
    if (!document || !loaded)
        return E_POINTER;
    *loaded = false;
    CComPtr<va::xml::IXmlNodeAccess> access(document);
    if (!access)
        return va::xml::Fail(E_NOINTERFACE, "The document is not one of this layer.");
    if (text.size() > kMaxXmlDocumentSize)
        return va::xml::Fail(S_FALSE, "The document is larger than the limit of " +
                                          std::to_string(kMaxXmlDocumentSize) + " bytes.");
    std::string error;
    xmlDocPtr doc = va::xml::ParseDocument(text, "", encoding, true, error);
    if (!doc)
        return error.empty() ? va::xml::Fail(E_OUTOFMEMORY, "Out of memory.")
                             : va::xml::Fail(S_FALSE, error);
    access->SetContent(va::xml::HoldDoc(doc));
    *loaded = true;
    return S_OK;
}

// --- name folding ------------------------------------------------------------------------

namespace va::xml {
namespace {

// The qualified name with its ASCII capitals in lower case, split into its
// local part and whether its prefix is "xml"; false for any other prefix.
bool FoldName(xmlNsPtr ns, const xmlChar* name, std::string& local, bool& inXmlNamespace) {
    local.clear();
    if (ns && ns->prefix) {
        local = reinterpret_cast<const char*>(ns->prefix);
        local += ':';
    }
    local += reinterpret_cast<const char*>(name);
    for (char& c : local)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    // Names the parser takes but the stricter QName rules of the tree refuse
    // cannot be made either.
    if (xmlValidateQName(BAD_CAST local.c_str(), 0) != 0)
        return false;
    size_t colon = local.find(':');
    inXmlNamespace = colon != std::string::npos;
    if (!inXmlNamespace)
        return true;
    if (colon != 3 || local.compare(0, 3, "xml") != 0 || colon + 1 == local.size())
        return false;
    local.erase(0, 4);
    return true;
}

// Folds 'element' and everything below it in place: names folded, the
// attributes' values as plain text with entities expanded, child elements
// first and the text and CDATA content after them (as text); entity
// references, comments and processing instructions removed, namespaces
// dropped but the XML one. False when a name cannot be folded.
bool FoldElement(xmlDocPtr doc, xmlNodePtr element, int depth) {
    std::string name;
    bool inXmlNamespace = false;
    if (depth > 3000 || !FoldName(element->ns, element->name, name, inXmlNamespace))
        return false;
    if (name != reinterpret_cast<const char*>(element->name))
        xmlNodeSetName(element, BAD_CAST name.c_str());
    element->ns = inXmlNamespace ? xmlSearchNsByHref(doc, element, XML_XML_NAMESPACE) : nullptr;

    for (xmlAttrPtr attr = element->properties, next = nullptr; attr; attr = next) {
        next = attr->next;
        // "xmlns" cannot name an attribute.
        if (!FoldName(attr->ns, attr->name, name, inXmlNamespace) ||
            (!inXmlNamespace && name == "xmlns"))
            return false;
        if (name != reinterpret_cast<const char*>(attr->name))
            xmlNodeSetName(reinterpret_cast<xmlNodePtr>(attr), BAD_CAST name.c_str());
        attr->ns = inXmlNamespace ? xmlSearchNsByHref(doc, element, XML_XML_NAMESPACE) : nullptr;
        if (attr->children && (attr->children->next || attr->children->type != XML_TEXT_NODE)) {
            xmlChar* value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attr));
            xmlNodePtr text = xmlNewDocText(doc, value ? value : BAD_CAST "");
            xmlFree(value);
            if (!text)
                return false;
            xmlFreeNodeList(attr->children);
            attr->children = attr->last = text;
            text->parent = reinterpret_cast<xmlNodePtr>(attr);
        }
        // A name met before: the earlier attribute takes this one's value.
        for (xmlAttrPtr earlier = element->properties; earlier != attr; earlier = earlier->next) {
            if (earlier->ns != attr->ns || !xmlStrEqual(earlier->name, attr->name))
                continue;
            xmlFreeNodeList(earlier->children);
            earlier->children = attr->children;
            earlier->last = attr->last;
            for (xmlNodePtr c = earlier->children; c; c = c->next)
                c->parent = reinterpret_cast<xmlNodePtr>(earlier);
            attr->children = attr->last = nullptr;
            xmlRemoveProp(attr);
            break;
        }
    }

    std::vector<xmlNodePtr> texts;
    bool folded = true;
    for (xmlNodePtr child = element->children, next = nullptr; child && folded; child = next) {
        next = child->next;
        if (child->type == XML_ELEMENT_NODE) {
            folded = FoldElement(doc, child, depth + 1);
            continue;
        }
        xmlUnlinkNode(child);
        if (child->type == XML_TEXT_NODE) {
            texts.push_back(child);
            continue;
        }
        if (child->type == XML_CDATA_SECTION_NODE && child->content) {
            xmlNodePtr text = xmlNewDocText(doc, child->content);
            if (text)
                texts.push_back(text);
            else
                folded = false;
        }
        xmlFreeNode(child);
    }
    // Linked as they are (joining them would copy the text again and again),
    // also after a failure, so that the document still owns them.
    for (xmlNodePtr text : texts) {
        text->parent = element;
        text->next = nullptr;
        text->prev = element->last;
        if (element->last)
            element->last->next = text;
        else
            element->children = text;
        element->last = text;
    }
    if (!folded)
        return false;
    // Nothing below refers to the element's namespace declarations any more.
    if (element->nsDef) {
        xmlFreeNsList(element->nsDef);
        element->nsDef = nullptr;
    }
    return true;
}

// Folds a whole document in place; false when a name cannot be folded.
bool FoldDocument(xmlDocPtr doc) {
    xmlNodePtr root = xmlDocGetRootElement(doc);
    if (root && !FoldElement(doc, root, 0))
        return false;
    // Only the root element stays: the DTD (its entities are expanded or
    // gone), comments and processing instructions go.
    for (xmlNodePtr child = doc->children, next = nullptr; child; child = next) {
        next = child->next;
        if (child == root)
            continue;
        xmlUnlinkNode(child);
        if (child->type == XML_DTD_NODE)
            xmlFreeDtd(reinterpret_cast<xmlDtdPtr>(child));
        else
            xmlFreeNode(child);
    }
    return true;
}

}  // namespace
}  // namespace va::xml

HRESULT XmlFoldNames(IXMLDOMDocument* document) {
    if (!document)
        return E_POINTER;
    CComPtr<va::xml::IXmlNodeAccess> access(document);
    if (!access)
        return va::xml::Fail(E_NOINTERFACE, "The document is not one of this layer.");
    va::xml::DocHolder doc = access->Owner();
    if (va::xml::FoldDocument(doc.get()))
        return S_OK;
    access->SetContent(va::xml::NewEmptyDoc());
    return S_FALSE;
}
