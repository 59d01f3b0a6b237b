#pragma once
// A compiled stylesheet from which transformation runs are made.
#include "playlist/XSLProcessor.h"

class CXSLTemplate : public CXMLBase {
public:
    CXSLTemplate() = default;

    bool IsValid() const override { return m_template != nullptr; }

    void Create();
    // Compiles the stylesheet held by a (free-threaded) document.
    void SetStylesheet(const CXMLDOMNode& stylesheet);
    CXSLProcessor CreateProcessor() const;

private:
    IXSLTemplate* CheckedTemplate() const;

    CXMLRef<IXSLTemplate> m_template;
};
