#pragma once
// A DOM node: XPath selection and text.
#include "playlist/XMLBase.h"

class CXMLDOMNodeList;

class CXMLDOMNode : public CXMLBase {
public:
    CXMLDOMNode() = default;
    explicit CXMLDOMNode(IXMLDOMNode* node) : m_node(node) {}

    bool IsValid() const override { return m_node != nullptr; }

    // Every node the XPath 1.0 expression selects, in document order.
    CXMLDOMNodeList SelectNodes(const std::string& expression) const;
    // The first node selected, or an empty wrapper when none matches.
    CXMLDOMNode SelectSingleNode(const std::string& expression) const;
    // The concatenated text of the node and its descendants.
    std::string GetText() const;
    // The node's qualified name ("#text" and the like for nodes without one).
    std::string GetNodeName() const;
    // The node written as XML.
    std::string GetXml() const;

    IXMLDOMNode* GetNode() const { return m_node.Get(); }

protected:
    // The node, or CComException with E_POINTER when none is held.
    IXMLDOMNode* CheckedNode() const;

    CXMLRef<IXMLDOMNode> m_node;
};

#include "playlist/XMLDOMNodeList.h"
