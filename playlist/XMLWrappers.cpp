// The XML wrapper values: every platform call checked, every empty wrapper
// refused with E_POINTER.
#include "playlist/XMLDOMAttribute.h"
#include "playlist/XMLDOMDocument.h"
#include "playlist/XMLDOMElement.h"
#include "playlist/XMLException.h"
#include "playlist/XSLTemplate.h"

namespace {

[[noreturn]] void ThrowEmptyWrapper() {
    throw CComException(E_POINTER, nullptr);
}

// The typed view of a node: none when the node does not offer it, an
// exception for any other failure of the query.
template <class I>
CComPtr<I> QueryView(IXMLDOMNode* node) {
    CComPtr<I> view;
    if (!node)
        return view;
    I* raw = nullptr;
    HRESULT hr = node->QueryInterface(I::iid, reinterpret_cast<void**>(&raw));
    if (hr == E_NOINTERFACE)
        return view;
    if (FAILED(hr))
        throw CComException(hr, nullptr);
    view.Attach(raw);
    return view;
}

// The engine is chosen once per process, on the first document or
// template made. libxml2 and libxslt are the only engine here.
void ChooseEngine() {
    static const bool available = XmlEngineAvailable();
    if (!available)
        ThrowXMLException(REGDB_E_CLASSNOTREG);
}

}  // namespace

std::string XMLVariantToString(XmlVariant& value) {
    std::string text;
    if (value.kind == XmlVariant::Kind::String)
        text = std::move(value.str);
    value.Clear();
    return text;
}

// --- CXMLDOMNode ------------------------------------------------------------------

IXMLDOMNode* CXMLDOMNode::CheckedNode() const {
    if (!m_node)
        ThrowEmptyWrapper();
    return m_node.Get();
}

CXMLDOMNodeList CXMLDOMNode::SelectNodes(const std::string& expression) const {
    CComPtr<IXMLDOMNodeList> list;
    CheckXMLResult(CheckedNode()->selectNodes(expression, &list));
    return CXMLDOMNodeList(list.Get());
}

CXMLDOMNode CXMLDOMNode::SelectSingleNode(const std::string& expression) const {
    CComPtr<IXMLDOMNode> node;
    CheckXMLResult(CheckedNode()->selectSingleNode(expression, &node));
    return CXMLDOMNode(node.Get());
}

std::string CXMLDOMNode::GetText() const {
    if (!m_node)
        ThrowXMLException(E_NOINTERFACE);
    std::string text;
    CheckXMLResult(m_node->get_text(&text));
    return text;
}

std::string CXMLDOMNode::GetNodeName() const {
    std::string name;
    CheckXMLResult(CheckedNode()->get_nodeName(&name));
    return name;
}

std::string CXMLDOMNode::GetXml() const {
    std::string xml;
    CheckXMLResult(CheckedNode()->get_xml(&xml));
    return xml;
}

// --- CXMLDOMNodeList --------------------------------------------------------------

IXMLDOMNodeList* CXMLDOMNodeList::CheckedList() const {
    if (!m_list)
        ThrowEmptyWrapper();
    return m_list.Get();
}

int CXMLDOMNodeList::GetLength() const {
    long length = 0;
    CheckXMLResult(CheckedList()->get_length(&length));
    return static_cast<int>(length);
}

CXMLDOMNode CXMLDOMNodeList::GetItem(int index) const {
    CComPtr<IXMLDOMNode> node;
    CheckXMLResult(CheckedList()->get_item(index, &node));
    return CXMLDOMNode(node.Get());
}

// --- CXMLDOMElement and CXMLDOMAttribute ----------------------------------------

CXMLDOMElement::CXMLDOMElement(const CXMLDOMNode& node)
    : CXMLDOMNode(node), m_element(QueryView<IXMLDOMElement>(node.GetNode())) {}

XmlVariant CXMLDOMElement::GetAttribute(const std::string& name) const {
    CheckedNode();
    if (!m_element)
        ThrowEmptyWrapper();
    XmlVariant value;
    CheckXMLResult(m_element->getAttribute(name, &value));
    return value;
}

CXMLDOMAttribute::CXMLDOMAttribute(const CXMLDOMNode& node)
    : CXMLDOMNode(node), m_attribute(QueryView<IXMLDOMAttribute>(node.GetNode())) {}

XmlVariant CXMLDOMAttribute::GetValue() const {
    CheckedNode();
    if (!m_attribute)
        ThrowEmptyWrapper();
    XmlVariant value;
    CheckXMLResult(m_attribute->get_value(&value));
    return value;
}

// --- CXMLDOMDocument --------------------------------------------------------------

CXMLDOMDocument::CXMLDOMDocument(const CXMLDOMNode& node)
    : CXMLDOMNode(node), m_document(QueryView<IXMLDOMDocument>(node.GetNode())) {}

IXMLDOMDocument* CXMLDOMDocument::CheckedDocument() const {
    CheckedNode();
    if (!m_document)
        ThrowEmptyWrapper();
    return m_document.Get();
}

void CXMLDOMDocument::Create(bool freeThreaded) {
    m_document = nullptr;
    m_node = nullptr;
    ChooseEngine();
    CComPtr<IXMLDOMDocument> document;
    CheckXMLResult(XmlCreateDocument(freeThreaded, &document));
    m_document = document;
    m_node = document.Get();
    m_freeThreaded = freeThreaded;
}

void CXMLDOMDocument::SetAsync(bool async) {
    CheckXMLResult(CheckedDocument()->put_async(async));
}

bool CXMLDOMDocument::Load(const std::string& source) {
    bool loaded = false;
    CheckXMLResult(CheckedDocument()->load(source, &loaded));
    return loaded;
}

bool CXMLDOMDocument::LoadXML(const std::string& text) {
    bool loaded = false;
    CheckXMLResult(CheckedDocument()->loadXML(text, &loaded));
    return loaded;
}

bool CXMLDOMDocument::LoadXmlClosingOpenElements(const std::string& text, const char* encoding) {
    bool loaded = false;
    HRESULT hr = XmlLoadClosingOpenElements(CheckedDocument(), text, encoding, &loaded);
    if (hr != S_FALSE)
        CheckXMLResult(hr);
    return loaded;
}

std::string CXMLDOMDocument::GetParseError() const {
    std::string reason;
    CheckXMLResult(CheckedDocument()->get_parseError(&reason));
    return reason;
}

// --- CXSLTemplate and CXSLProcessor ---------------------------------------------

IXSLTemplate* CXSLTemplate::CheckedTemplate() const {
    if (!m_template)
        ThrowEmptyWrapper();
    return m_template.Get();
}

void CXSLTemplate::Create() {
    m_template = nullptr;
    ChooseEngine();
    CComPtr<IXSLTemplate> created;
    CheckXMLResult(XmlCreateTemplate(&created));
    m_template = created;
}

void CXSLTemplate::SetStylesheet(const CXMLDOMNode& stylesheet) {
    IXSLTemplate* xslTemplate = CheckedTemplate();
    if (!stylesheet.GetNode())
        ThrowEmptyWrapper();
    CheckXMLResult(xslTemplate->putref_stylesheet(stylesheet.GetNode()));
}

CXSLProcessor CXSLTemplate::CreateProcessor() const {
    CComPtr<IXSLProcessor> processor;
    CheckXMLResult(CheckedTemplate()->createProcessor(&processor));
    return CXSLProcessor(processor.Get());
}

IXSLProcessor* CXSLProcessor::CheckedProcessor() const {
    if (!m_processor)
        ThrowEmptyWrapper();
    return m_processor.Get();
}

void CXSLProcessor::SetInput(const CXMLDOMNode& input) {
    IXSLProcessor* processor = CheckedProcessor();
    if (!input.GetNode())
        ThrowEmptyWrapper();
    CheckXMLResult(processor->put_input(input.GetNode()));
}

void CXSLProcessor::SetOutput(const CXMLDOMDocument& output) {
    IXSLProcessor* processor = CheckedProcessor();
    if (!output.GetDocument())
        ThrowEmptyWrapper();
    CheckXMLResult(processor->put_output(output.GetDocument()));
}

bool CXSLProcessor::Transform() {
    bool done = false;
    CheckXMLResult(CheckedProcessor()->transform(&done));
    return done;
}
