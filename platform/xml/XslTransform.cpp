// Stylesheet templates and transformation runs over libxslt.
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/xml/XmlObjects.h"

namespace va::xml {
namespace {

using StyleHolder = std::shared_ptr<xsltStylesheet>;

void TransformError(void* context, const char* format, ...) {
    auto* capture = static_cast<CErrorCapture*>(context);
    if (!capture)
        return;
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    capture->AddPiece(buffer);
}

}  // namespace

// Stylesheets may neither read nor write files nor reach the network.
xsltSecurityPrefsPtr LockedDownPrefs() {
    static xsltSecurityPrefsPtr prefs = [] {
        xsltSecurityPrefsPtr p = xsltNewSecurityPrefs();
        for (xsltSecurityOption option :
             {XSLT_SECPREF_READ_FILE, XSLT_SECPREF_WRITE_FILE, XSLT_SECPREF_CREATE_DIRECTORY,
              XSLT_SECPREF_READ_NETWORK, XSLT_SECPREF_WRITE_NETWORK})
            xsltSetSecurityPrefs(p, option, xsltSecurityForbid);
        // Also in force while stylesheets compile (xsl:import, xsl:include).
        xsltSetDefaultSecurityPrefs(p);
        return p;
    }();
    return prefs;
}

namespace {

// A document of its own holding a copy of 'node' (or of the whole document).
xmlDocPtr CopyAsDocument(xmlNodePtr node) {
    if (node->type == XML_DOCUMENT_NODE)
        return xmlCopyDoc(reinterpret_cast<xmlDocPtr>(node), 1);
    if (node->type != XML_ELEMENT_NODE)
        return nullptr;
    xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
    if (!doc)
        return nullptr;
    xmlNodePtr copy = xmlDocCopyNode(node, doc, 1);
    if (!copy) {
        xmlFreeDoc(doc);
        return nullptr;
    }
    xmlDocSetRootElement(doc, copy);
    return doc;
}

class CXslProcessor : public CUnknownImpl<CXslProcessor, IXSLProcessor> {
public:
    explicit CXslProcessor(StyleHolder style) : m_style(std::move(style)) {}

    HRESULT put_input(IUnknown* input) override {
        if (!input)
            return E_POINTER;
        CComPtr<IXmlNodeAccess> access(input);
        if (!access)
            return Fail(E_NOINTERFACE, "The input is not a node of a document.");
        m_input = access;
        return S_OK;
    }
    HRESULT put_output(IUnknown* output) override {
        if (!output)
            return E_POINTER;
        CComPtr<IXMLDOMDocument> document(output);
        CComPtr<IXmlNodeAccess> access(output);
        if (!document || !access)
            return Fail(E_NOINTERFACE, "The output is not a document.");
        m_output = access;
        return S_OK;
    }
    HRESULT transform(bool* done) override {
        if (!done)
            return E_POINTER;
        *done = false;
        if (!m_input)
            return Fail(E_UNEXPECTED, "The transformation has no input.");
        if (!m_output)
            return Fail(E_UNEXPECTED, "The transformation has no output document.");

        DocHolder owner = m_input->Owner();
        xmlNodePtr node = m_input->RawNode();
        DocHolder source;
        if (node->type == XML_DOCUMENT_NODE) {
            source = owner;
        } else {
            xmlDocPtr copy = CopyAsDocument(node);
            if (!copy)
                return Fail(E_INVALIDARG, "Only documents and elements can be transformed.");
            source = HoldDoc(copy);
        }

        CErrorCapture capture;
        xsltTransformContextPtr context = xsltNewTransformContext(m_style.get(), source.get());
        if (!context)
            return Fail(E_OUTOFMEMORY, "Out of memory.");
        xsltSetCtxtSecurityPrefs(LockedDownPrefs(), context);
        xsltSetTransformErrorFunc(context, &capture, &TransformError);
        xmlDocPtr result = xsltApplyStylesheetUser(m_style.get(), source.get(), nullptr, nullptr,
                                                   nullptr, context);
        bool completed = result && context->state == XSLT_STATE_OK;
        xsltFreeTransformContext(context);
        if (result)
            m_output->SetContent(HoldDoc(result));
        *done = completed;
        return completed ? S_OK : S_FALSE;
    }

private:
    StyleHolder m_style;
    CComPtr<IXmlNodeAccess> m_input;
    CComPtr<IXmlNodeAccess> m_output;
};

class CXslTemplate : public CUnknownImpl<CXslTemplate, IXSLTemplate> {
public:
    HRESULT putref_stylesheet(IXMLDOMNode* stylesheet) override {
        if (!stylesheet)
            return E_POINTER;
        CComPtr<IXmlNodeAccess> access(stylesheet);
        if (!access)
            return Fail(E_NOINTERFACE, "The stylesheet is not a node of a document.");
        // The compiled stylesheet owns its document: give it a copy.
        xmlDocPtr copy = CopyAsDocument(access->RawNode());
        if (!copy || !xmlDocGetRootElement(copy)) {
            if (copy)
                xmlFreeDoc(copy);
            return Fail(E_INVALIDARG, "The stylesheet document is empty.");
        }
        CErrorCapture capture;
        xsltStylesheetPtr style = xsltParseStylesheetDoc(copy);
        if (!style) {
            xmlFreeDoc(copy);
            return Fail(E_FAIL, "The stylesheet is not valid: " + capture.First("unknown error"));
        }
        m_style = StyleHolder(style, [](xsltStylesheetPtr s) { xsltFreeStylesheet(s); });
        return S_OK;
    }
    HRESULT createProcessor(IXSLProcessor** processor) override {
        if (!processor)
            return E_POINTER;
        *processor = nullptr;
        if (!m_style)
            return Fail(E_UNEXPECTED, "The template holds no stylesheet.");
        CComPtr<IXSLProcessor> result(new CXslProcessor(m_style));
        *processor = result.Detach();
        return S_OK;
    }

private:
    StyleHolder m_style;
};

}  // namespace
}  // namespace va::xml

HRESULT XmlCreateTemplate(IXSLTemplate** xslTemplate) {
    if (!xslTemplate)
        return E_POINTER;
    *xslTemplate = nullptr;
    va::xml::InitXmlEngine();
    va::xml::LockedDownPrefs();
    CComPtr<IXSLTemplate> result(new va::xml::CXslTemplate());
    *xslTemplate = result.Detach();
    return S_OK;
}
