#pragma once
// An attribute node.
#include "playlist/XMLDOMNode.h"

class CXMLDOMAttribute : public CXMLDOMNode {
public:
    CXMLDOMAttribute() = default;
    // Holds the node and its attribute view; not valid when the node is no attribute.
    explicit CXMLDOMAttribute(const CXMLDOMNode& node);

    bool IsValid() const override { return m_node != nullptr && m_attribute != nullptr; }

    XmlVariant GetValue() const;

private:
    CXMLRef<IXMLDOMAttribute> m_attribute;
};
