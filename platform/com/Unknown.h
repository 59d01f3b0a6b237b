#pragma once
// IUnknown and a reusable implementation of reference counting and
// QueryInterface for objects that expose one or more interfaces.
#include <atomic>
#include <tuple>
#include <type_traits>

#include "platform/com/Guid.h"
#include "platform/com/HResult.h"

// Every interface names its identifier as a static member 'iid'.
#define VA_INTERFACE_ID(text) static constexpr IID iid = MakeGuid(text)

template <class T>
inline constexpr const IID& IidOf = T::iid;

struct IUnknown {
    VA_INTERFACE_ID("00000000-0000-0000-C000-000000000046");
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

// Implements IUnknown for a class deriving from the interfaces listed.
// QueryInterface answers IUnknown and each listed interface; a class adds
// more through an override of QueryInterfaceExtra. The object is deleted
// when its last reference is released. Objects start with a count of 0:
// the first smart pointer that takes them adds the first reference.
template <class Derived, class... Interfaces>
class CUnknownImpl : public Interfaces... {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IUnknown::iid) {
            *ppv = static_cast<IUnknown*>(static_cast<FirstInterface*>(this));
        } else {
            (TryInterface<Interfaces>(riid, ppv) || ...);
        }
        if (!*ppv && FAILED(static_cast<Derived*>(this)->QueryInterfaceExtra(riid, ppv)))
            *ppv = nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_cRef; }
    ULONG Release() override {
        ULONG n = --m_cRef;
        if (n == 0)
            delete static_cast<Derived*>(this);
        return n;
    }
    // Answers further interfaces (aggregated helpers); the default answers none.
    HRESULT QueryInterfaceExtra(REFIID, void** ppv) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG RefCount() const { return m_cRef.load(); }

protected:
    CUnknownImpl() = default;
    virtual ~CUnknownImpl() = default;

private:
    using FirstInterface = std::tuple_element_t<0, std::tuple<Interfaces...>>;
    template <class I>
    bool TryInterface(REFIID riid, void** ppv) {
        if (riid == I::iid) {
            *ppv = static_cast<I*>(this);
            return true;
        }
        return false;
    }
    std::atomic<ULONG> m_cRef{0};
};
