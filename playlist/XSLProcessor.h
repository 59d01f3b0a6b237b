#pragma once
// One run of a compiled stylesheet: an input node, an output document.
#include "playlist/XMLDOMDocument.h"

class CXSLProcessor : public CXMLBase {
public:
    CXSLProcessor() = default;
    explicit CXSLProcessor(IXSLProcessor* processor) : m_processor(processor) {}

    bool IsValid() const override { return m_processor != nullptr; }

    void SetInput(const CXMLDOMNode& input);
    void SetOutput(const CXMLDOMDocument& output);
    // True when the transformation completed.
    bool Transform();

private:
    IXSLProcessor* CheckedProcessor() const;

    CXMLRef<IXSLProcessor> m_processor;
};
