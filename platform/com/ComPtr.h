#pragma once
// CComPtr: a counted holder of one interface pointer. Taking a pointer of
// the same interface (or one derived from it) adds a reference; taking a
// pointer of any other interface queries it for this one and holds nothing
// when the object does not answer it.
#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>

#include "platform/com/Unknown.h"

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);

template <class T>
class CComPtr {
public:
    CComPtr() = default;
    CComPtr(std::nullptr_t) {}
    CComPtr(const CComPtr& other) : m_p(other.m_p) { AddRefIf(); }
    CComPtr(CComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}

    template <class U>
    CComPtr(U* p) {
        Assign(p);
    }
    template <class U>
    CComPtr(const CComPtr<U>& other) {
        Assign(other.Get());
    }
    ~CComPtr() { Release(); }

    CComPtr& operator=(const CComPtr& other) {
        if (this != std::addressof(other)) {
            CComPtr tmp(other);
            Swap(tmp);
        }
        return *this;
    }
    CComPtr& operator=(CComPtr&& other) noexcept {
        // std::addressof: the class's own operator& releases what it holds.
        if (this != std::addressof(other)) {
            Release();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }
    template <class U>
    CComPtr& operator=(U* p) {
        CComPtr tmp(p);
        Swap(tmp);
        return *this;
    }
    template <class U>
    CComPtr& operator=(const CComPtr<U>& other) {
        CComPtr tmp(other);
        Swap(tmp);
        return *this;
    }
    CComPtr& operator=(std::nullptr_t) {
        Release();
        return *this;
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    T& operator*() const { return *m_p; }
    operator T*() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // Drops the held pointer and gives the address for an out parameter.
    T** operator&() {
        Release();
        return &m_p;
    }
    void** ReleaseAndGetVoidAddress() {
        Release();
        return reinterpret_cast<void**>(&m_p);
    }

    // Takes over a reference without adding one.
    void Attach(T* p) {
        Release();
        m_p = p;
    }
    // Hands the reference to the caller.
    T* Detach() { return std::exchange(m_p, nullptr); }

    void Release() {
        if (T* p = std::exchange(m_p, nullptr))
            p->Release();
    }
    void Swap(CComPtr& other) noexcept { std::swap(m_p, other.m_p); }

    // Creates an object of the class table's class and queries it for T.
    HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer = nullptr, DWORD context = 1) {
        Release();
        return ::CoCreateInstance(clsid, outer, context, T::iid, reinterpret_cast<void**>(&m_p));
    }

    template <class U>
    HRESULT QueryInterface(U** out) const {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!m_p)
            return E_POINTER;
        return m_p->QueryInterface(U::iid, reinterpret_cast<void**>(out));
    }

private:
    void AddRefIf() {
        if (m_p)
            m_p->AddRef();
    }
    template <class U>
    void Assign(U* p) {
        m_p = nullptr;
        if (!p)
            return;
        if constexpr (std::is_base_of_v<T, U>) {
            m_p = p;
            m_p->AddRef();
        } else {
            void* out = nullptr;
            if (SUCCEEDED(p->QueryInterface(T::iid, &out)))
                m_p = static_cast<T*>(out);
        }
    }

    T* m_p = nullptr;
};

template <class T, class U>
bool operator==(const CComPtr<T>& a, const CComPtr<U>& b) {
    return static_cast<const void*>(a.Get()) == static_cast<const void*>(b.Get());
}

// Two interface pointers refer to one object when their IUnknowns agree.
bool IsSameObject(IUnknown* a, IUnknown* b);
