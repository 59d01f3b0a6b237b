#pragma once
// An element: a node with its attributes.
#include "playlist/XMLDOMNode.h"

class CXMLDOMElement : public CXMLDOMNode {
public:
    CXMLDOMElement() = default;
    // Holds the node and its element view; not valid when the node is no element.
    explicit CXMLDOMElement(const CXMLDOMNode& node);

    bool IsValid() const override { return m_node != nullptr && m_element != nullptr; }

    // The attribute's value; a null variant when the attribute is absent.
    XmlVariant GetAttribute(const std::string& name) const;

private:
    CXMLRef<IXMLDOMElement> m_element;
};
