#pragma once
// The root of the XML wrapper values: each holds counted references to
// interfaces of the platform's XML services. Copying adds references,
// destruction releases them, and an empty wrapper is legal.
#include <string>
#include <utility>

#include "platform/xml/XmlDom.h"

// The counted reference a wrapper holds. Assignment goes through a
// temporary and a swap, which also makes self-assignment safe.
template <class T>
class CXMLRef : public CComPtr<T> {
public:
    using CComPtr<T>::CComPtr;
    using CComPtr<T>::operator=;
    CXMLRef() = default;
    CXMLRef(const CXMLRef&) = default;
    CXMLRef(CXMLRef&&) noexcept = default;
    CXMLRef(const CComPtr<T>& other) : CComPtr<T>(other) {}
    CXMLRef(CComPtr<T>&& other) noexcept : CComPtr<T>(std::move(other)) {}
    CXMLRef& operator=(const CXMLRef& other) {
        CComPtr<T> tmp(other);
        this->Swap(tmp);
        return *this;
    }
    CXMLRef& operator=(CXMLRef&& other) noexcept {
        CComPtr<T> tmp(std::move(other));
        this->Swap(tmp);
        return *this;
    }
};

class CXMLBase {
public:
    virtual ~CXMLBase() = default;
    // Whether the wrapper holds what it needs to work.
    virtual bool IsValid() const = 0;

protected:
    CXMLBase() = default;
    CXMLBase(const CXMLBase&) = default;
    CXMLBase& operator=(const CXMLBase&) = default;
};

// The string of a variant: empty for an empty or null variant. Clears it.
std::string XMLVariantToString(XmlVariant& value);
