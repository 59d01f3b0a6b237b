#include "platform/com/Dispatch.h"

#include <locale.h>
#include <strings.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

VARIANT VARIANT::FromBool(bool value) {
    VARIANT v;
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT VARIANT::FromI4(int32_t value) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT VARIANT::FromR8(double value) {
    VARIANT v;
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
}

VARIANT VARIANT::FromString(std::string value) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = std::move(value);
    return v;
}

VARIANT VARIANT::FromDispatch(IDispatch* value) {
    VARIANT v;
    v.vt = value ? VT_DISPATCH : VT_NULL;
    v.punkVal = static_cast<IUnknown*>(value);
    return v;
}

void VariantClear(VARIANT* v) {
    if (v)
        *v = VARIANT();
}

namespace {

// Parses a whole number text in the C locale (surrounding blanks allowed).
bool ParseDouble(const std::string& text, double& value) {
    static locale_t c = newlocale(LC_NUMERIC_MASK, "C", nullptr);
    const char* begin = text.c_str();
    while (*begin == ' ' || *begin == '\t')
        ++begin;
    if (!*begin)
        return false;
    char* end = nullptr;
    errno = 0;
    value = c ? strtod_l(begin, &end, c) : std::strtod(begin, &end);
    if (end == begin)
        return false;
    while (*end == ' ' || *end == '\t')
        ++end;
    return *end == '\0' && std::isfinite(value);
}

// Numbers round half to even when they become integers, as the other
// platform does.
HRESULT ToI4(double d, int32_t& out) {
    double r = std::nearbyint(d);
    if (!(r >= -2147483648.0 && r <= 2147483647.0))
        return DISP_E_OVERFLOW;
    out = static_cast<int32_t>(r);
    return S_OK;
}

// Why a value of this type cannot become a number or a string: types that
// hold no such value mismatch, types this layer does not know are bad.
HRESULT UnconvertibleType(VARTYPE vt) {
    switch (vt) {
        case VT_NULL:
        case VT_DISPATCH:
        case VT_UNKNOWN:
        case VT_ERROR:
            return DISP_E_TYPEMISMATCH;
        default:
            return DISP_E_BADVARTYPE;
    }
}

HRESULT AsDouble(const VARIANT& src, double& d) {
    switch (src.vt) {
        case VT_EMPTY:
            d = 0;
            return S_OK;
        case VT_BOOL:
            d = src.boolVal ? -1 : 0;
            return S_OK;
        case VT_I4:
            d = src.lVal;
            return S_OK;
        case VT_R8:
            d = src.dblVal;
            return S_OK;
        case VT_BSTR:
            if (strcasecmp(src.bstrVal.c_str(), "true") == 0) {
                d = -1;
                return S_OK;
            }
            if (strcasecmp(src.bstrVal.c_str(), "false") == 0) {
                d = 0;
                return S_OK;
            }
            return ParseDouble(src.bstrVal, d) ? S_OK : DISP_E_TYPEMISMATCH;
        default:
            return UnconvertibleType(src.vt);
    }
}

std::string FormatDouble(double d) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", d);
    return text;
}

}  // namespace

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, uint16_t, VARTYPE vt) {
    if (!dest || !src)
        return E_POINTER;
    if (src->vt == vt) {
        if (dest != src)
            *dest = *src;
        return S_OK;
    }
    VARIANT out;
    out.vt = vt;
    switch (vt) {
        case VT_EMPTY:
            break;
        case VT_BOOL: {
            double d = 0;
            if (HRESULT hr = AsDouble(*src, d); FAILED(hr))
                return hr;
            out.boolVal = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        }
        case VT_I4: {
            double d = 0;
            if (HRESULT hr = AsDouble(*src, d); FAILED(hr))
                return hr;
            if (HRESULT hr = ToI4(d, out.lVal); FAILED(hr))
                return hr;
            break;
        }
        case VT_R8: {
            if (HRESULT hr = AsDouble(*src, out.dblVal); FAILED(hr))
                return hr;
            break;
        }
        case VT_BSTR:
            switch (src->vt) {
                case VT_EMPTY:
                    break;
                case VT_BOOL:
                    out.bstrVal = src->boolVal ? "True" : "False";
                    break;
                case VT_I4:
                    out.bstrVal = std::to_string(src->lVal);
                    break;
                case VT_R8:
                    out.bstrVal = FormatDouble(src->dblVal);
                    break;
                default:
                    return UnconvertibleType(src->vt);
            }
            break;
        case VT_DISPATCH:
            if (src->vt == VT_EMPTY || src->vt == VT_NULL) {
                out.vt = VT_DISPATCH;
                break;
            }
            if (src->vt == VT_UNKNOWN && src->punkVal) {
                void* p = nullptr;
                if (FAILED(src->punkVal->QueryInterface(IDispatch::iid, &p)))
                    return DISP_E_TYPEMISMATCH;
                out.punkVal.Attach(static_cast<IUnknown*>(static_cast<IDispatch*>(p)));
                break;
            }
            return DISP_E_TYPEMISMATCH;
        default:
            return DISP_E_BADVARTYPE;
    }
    *dest = std::move(out);
    return S_OK;
}

// ---------------------------------------------------------------- table

const CDispMember* CDispatchTable::Find(DISPID id) const {
    for (const CDispMember& m : m_members)
        if (m.id == id)
            return &m;
    return nullptr;
}

const CDispMember* CDispatchTable::Find(const std::string& name) const {
    for (const CDispMember& m : m_members)
        if (strcasecmp(m.name, name.c_str()) == 0)
            return &m;
    return nullptr;
}

HRESULT CDispatchTable::GetIDsOfNames(const std::string* names, unsigned count, DISPID* ids) const {
    if (!names || !ids)
        return E_POINTER;
    if (count == 0)
        return S_OK;
    // The first name is the member; further names would be its named
    // arguments, which no member here has.
    HRESULT hr = S_OK;
    const CDispMember* m = Find(names[0]);
    ids[0] = m ? m->id : DISPID_UNKNOWN;
    if (!m)
        hr = DISP_E_UNKNOWNNAME;
    for (unsigned i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT CDispatchTable::Raise(EXCEPINFO* excepInfo, HRESULT scode) {
    if (excepInfo) {
        *excepInfo = EXCEPINFO();
        excepInfo->scode = scode;
    }
    return DISP_E_EXCEPTION;
}

HRESULT CDispatchTable::Prepare(const CDispMember*& member, DISPID id, uint16_t& flags,
                                DISPPARAMS* params, std::vector<VARIANT>& args,
                                EXCEPINFO* excepInfo, unsigned* argErr) const {
    member = Find(id);
    if (!member)
        return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none;
    if (!params)
        params = &none;
    if (params->cArgs && !params->rgvarg)
        return E_INVALIDARG;
    const bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
    if (put) {
        if (member->kind != CDispMember::property)
            return DISP_E_MEMBERNOTFOUND;
        if (params->cNamedArgs != 1 || !params->rgdispidNamedArgs ||
            params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_PARAMNOTOPTIONAL;
        if (params->cArgs != 1)
            return DISP_E_BADPARAMCOUNT;
        if (!member->canPut)
            return Raise(excepInfo, CTL_E_SETNOTSUPPORTED);
        flags = DISPATCH_PROPERTYPUT;
        args.resize(1);
        HRESULT hr = VariantChangeType(&args[0], &params->rgvarg[0], 0, member->type);
        if (FAILED(hr) && argErr)
            *argErr = 0;
        return hr;
    }
    if (params->cNamedArgs)
        return DISP_E_NONAMEDARGS;
    if (member->kind == CDispMember::property) {
        if (!(flags & DISPATCH_PROPERTYGET))
            return DISP_E_MEMBERNOTFOUND;
        if (params->cArgs != 0)
            return DISP_E_BADPARAMCOUNT;
        if (!member->canGet)
            return Raise(excepInfo, CTL_E_GETNOTSUPPORTED);
        flags = DISPATCH_PROPERTYGET;
        return S_OK;
    }
    if (!(flags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    if (params->cArgs != member->args.size())
        return DISP_E_BADPARAMCOUNT;
    flags = DISPATCH_METHOD;
    args.resize(params->cArgs);
    for (unsigned i = 0; i < params->cArgs; ++i) {
        // rgvarg holds the last argument first.
        unsigned from = params->cArgs - 1 - i;
        HRESULT hr = VariantChangeType(&args[i], &params->rgvarg[from], 0, member->args[i]);
        if (FAILED(hr)) {
            if (argErr)
                *argErr = from;
            return hr;
        }
    }
    return S_OK;
}

// ---------------------------------------------------------------- callers

DISPID DispatchIdOf(IDispatch* object, const std::string& name) {
    DISPID id = DISPID_UNKNOWN;
    if (object)
        object->GetIDsOfNames(GUID_NULL, &name, 1, 0, &id);
    return id;
}

HRESULT DispatchGet(IDispatch* object, DISPID id, VARIANT* result, EXCEPINFO* excepInfo) {
    if (!object)
        return E_POINTER;
    DISPPARAMS params;
    return object->Invoke(id, GUID_NULL, 0, DISPATCH_PROPERTYGET, &params, result, excepInfo,
                          nullptr);
}

HRESULT DispatchPut(IDispatch* object, DISPID id, const VARIANT& value, EXCEPINFO* excepInfo) {
    if (!object)
        return E_POINTER;
    VARIANT arg = value;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&arg, &named, 1, 1};
    return object->Invoke(id, GUID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, excepInfo,
                          nullptr);
}

HRESULT DispatchCall(IDispatch* object, DISPID id, const std::vector<VARIANT>& args,
                     VARIANT* result, EXCEPINFO* excepInfo) {
    if (!object)
        return E_POINTER;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                      unsigned(reversed.size()), 0};
    return object->Invoke(id, GUID_NULL, 0, DISPATCH_METHOD, &params, result, excepInfo, nullptr);
}
