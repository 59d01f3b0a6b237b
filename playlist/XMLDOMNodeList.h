#pragma once
// The result of an XPath selection.
#include "playlist/XMLBase.h"

class CXMLDOMNode;

class CXMLDOMNodeList : public CXMLBase {
public:
    CXMLDOMNodeList() = default;
    explicit CXMLDOMNodeList(IXMLDOMNodeList* list) : m_list(list) {}

    bool IsValid() const override { return m_list != nullptr; }

    int GetLength() const;
    // The node at index; an empty wrapper for an index outside the list.
    CXMLDOMNode GetItem(int index) const;

private:
    IXMLDOMNodeList* CheckedList() const;

    CXMLRef<IXMLDOMNodeList> m_list;
};

#include "playlist/XMLDOMNode.h"
