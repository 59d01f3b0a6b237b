#pragma once
// Enumerators over a snapshot of pins, filters or media types.
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/dshow/Filters.h"

template <class Itf, class Elem>
class CEnumUnknowns : public CUnknownImpl<CEnumUnknowns<Itf, Elem>, Itf> {
public:
    explicit CEnumUnknowns(std::vector<CComPtr<Elem>> items, size_t pos = 0)
        : m_items(std::move(items)), m_pos(pos) {}

    HRESULT Next(ULONG c, Elem** out, ULONG* fetched) override {
        if (!out || (c > 1 && !fetched))
            return E_POINTER;
        ULONG n = 0;
        while (n < c && m_pos < m_items.size()) {
            out[n] = m_items[m_pos++].Get();
            out[n]->AddRef();
            ++n;
        }
        if (fetched)
            *fetched = n;
        return n == c ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG c) override {
        m_pos += c;
        if (m_pos > m_items.size()) {
            m_pos = m_items.size();
            return S_FALSE;
        }
        return S_OK;
    }
    HRESULT Reset() override {
        m_pos = 0;
        return S_OK;
    }
    HRESULT Clone(Itf** out) override {
        if (!out)
            return E_POINTER;
        auto* clone = new CEnumUnknowns(m_items, m_pos);
        clone->AddRef();
        *out = clone;
        return S_OK;
    }

private:
    std::vector<CComPtr<Elem>> m_items;
    size_t m_pos;
};

using CEnumPins = CEnumUnknowns<IEnumPins, IPin>;
using CEnumFilters = CEnumUnknowns<IEnumFilters, IBaseFilter>;

class CEnumMediaTypes : public CUnknownImpl<CEnumMediaTypes, IEnumMediaTypes> {
public:
    explicit CEnumMediaTypes(std::vector<CMediaType> types, size_t pos = 0)
        : m_types(std::move(types)), m_pos(pos) {}

    HRESULT Next(ULONG c, AM_MEDIA_TYPE** out, ULONG* fetched) override {
        if (!out || (c > 1 && !fetched))
            return E_POINTER;
        ULONG n = 0;
        while (n < c && m_pos < m_types.size()) {
            AM_MEDIA_TYPE* mt = CreateMediaType(&m_types[m_pos]);
            if (!mt)
                break;
            out[n++] = mt;
            ++m_pos;
        }
        if (fetched)
            *fetched = n;
        return n == c ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG c) override {
        m_pos += c;
        if (m_pos > m_types.size()) {
            m_pos = m_types.size();
            return S_FALSE;
        }
        return S_OK;
    }
    HRESULT Reset() override {
        m_pos = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumMediaTypes** out) override {
        if (!out)
            return E_POINTER;
        auto* clone = new CEnumMediaTypes(m_types, m_pos);
        clone->AddRef();
        *out = clone;
        return S_OK;
    }

private:
    std::vector<CMediaType> m_types;
    size_t m_pos;
};
