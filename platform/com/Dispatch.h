#pragma once
// Late-bound automation: VARIANT values, their coercion (VariantChangeType)
// and IDispatch with GetIDsOfNames and Invoke by DISPID. Strings (BSTR) are
// UTF-8 here; a VARIANT owns its string and holds a counted reference to
// its dispatch object.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/ComPtr.h"

using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using DISPID = int32_t;
using LCID = DWORD;
using BSTR = std::string;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_NULL = 1;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_R8 = 5;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_DISPATCH = 9;
constexpr VARTYPE VT_ERROR = 10;
constexpr VARTYPE VT_BOOL = 11;
constexpr VARTYPE VT_UNKNOWN = 13;

// Invoke flags.
constexpr uint16_t DISPATCH_METHOD = 0x1;
constexpr uint16_t DISPATCH_PROPERTYGET = 0x2;
constexpr uint16_t DISPATCH_PROPERTYPUT = 0x4;
constexpr uint16_t DISPATCH_PROPERTYPUTREF = 0x8;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_ABOUTBOX = -552;

// Results of the dispatch layer beside those of HResult.h.
constexpr HRESULT DISP_E_BADVARTYPE = HR(0x80020008);
constexpr HRESULT DISP_E_NONAMEDARGS = HR(0x80020007);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = HR(0x80020001);

struct IDispatch;

struct VARIANT {
    VARTYPE vt = VT_EMPTY;
    VARIANT_BOOL boolVal = 0;
    int32_t lVal = 0;
    double dblVal = 0;
    HRESULT scode = 0;
    BSTR bstrVal;
    CComPtr<IUnknown> punkVal;  // VT_DISPATCH and VT_UNKNOWN

    VARIANT() = default;
    static VARIANT FromBool(bool value);
    static VARIANT FromI4(int32_t value);
    static VARIANT FromR8(double value);
    static VARIANT FromString(std::string value);
    static VARIANT FromDispatch(IDispatch* value);
};

// Empties the value (VT_EMPTY).
void VariantClear(VARIANT* v);
// Converts 'src' to type 'vt' into 'dest' (which may be 'src') as the
// automation layer does: numbers from text in the C locale, booleans from
// "True"/"False" or a number, text from numbers and booleans ("True",
// "False"); DISP_E_TYPEMISMATCH when the value has no such form,
// DISP_E_OVERFLOW when it does not fit, DISP_E_BADVARTYPE for types this
// layer does not know.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, uint16_t flags, VARTYPE vt);

// Arguments of Invoke, in reverse order as on the other platform: rgvarg[0]
// is the last argument; a property put names its value DISPID_PROPERTYPUT.
struct DISPPARAMS {
    VARIANT* rgvarg = nullptr;
    DISPID* rgdispidNamedArgs = nullptr;
    unsigned cArgs = 0;
    unsigned cNamedArgs = 0;
};

struct EXCEPINFO {
    uint16_t wCode = 0;
    std::string bstrSource;
    std::string bstrDescription;
    HRESULT scode = S_OK;
};

struct IDispatch : IUnknown {
    VA_INTERFACE_ID("00020400-0000-0000-C000-000000000046");
    virtual HRESULT GetTypeInfoCount(unsigned* count) = 0;
    // Names are compared without regard to case; unknown names get
    // DISPID_UNKNOWN and the call answers DISP_E_UNKNOWNNAME.
    virtual HRESULT GetIDsOfNames(REFIID riid, const std::string* names, unsigned count, LCID lcid,
                                  DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* excepInfo, unsigned* argErr) = 0;
};

// One member of a table-driven dispatch interface.
struct CDispMember {
    const char* name;
    DISPID id;
    enum EKind { property, method } kind;
    VARTYPE type;  // of the property, or the result of a method (VT_EMPTY: none)
    bool canGet;
    bool canPut;
    std::vector<VARTYPE> args;  // the method's argument types
};

// Implements GetIDsOfNames and the argument handling of Invoke over a
// member table; the object answers the typed calls. Failures of a getter
// or setter are reported by throwing an HRESULT through CDispError.
struct CDispError {
    HRESULT hr;
};

class CDispatchTable {
public:
    explicit CDispatchTable(std::vector<CDispMember> members) : m_members(std::move(members)) {}

    const CDispMember* Find(DISPID id) const;
    const CDispMember* Find(const std::string& name) const;
    const std::vector<CDispMember>& Members() const { return m_members; }

    HRESULT GetIDsOfNames(const std::string* names, unsigned count, DISPID* ids) const;

    // Checks flags and arguments, converts the arguments to the member's
    // types and calls 'get', 'put' or 'call'; a write-only property read
    // and a read-only property written answer DISP_E_EXCEPTION with
    // CTL_E_GETNOTSUPPORTED / CTL_E_SETNOTSUPPORTED in *excepInfo.
    template <class Get, class Put, class Call>
    HRESULT Invoke(DISPID id, uint16_t flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excepInfo, unsigned* argErr, Get&& get, Put&& put, Call&& call) const;

private:
    HRESULT Prepare(const CDispMember*& member, DISPID id, uint16_t& flags, DISPPARAMS* params,
                    std::vector<VARIANT>& args, EXCEPINFO* excepInfo, unsigned* argErr) const;
    static HRESULT Raise(EXCEPINFO* excepInfo, HRESULT scode);

    std::vector<CDispMember> m_members;
};

template <class Get, class Put, class Call>
HRESULT CDispatchTable::Invoke(DISPID id, uint16_t flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* excepInfo, unsigned* argErr, Get&& get, Put&& put,
                               Call&& call) const {
    const CDispMember* member = nullptr;
    std::vector<VARIANT> args;
    HRESULT hr = Prepare(member, id, flags, params, args, excepInfo, argErr);
    if (FAILED(hr))
        return hr;
    try {
        VARIANT out;
        if (flags & DISPATCH_PROPERTYPUT)
            put(*member, args[0]);
        else if (member->kind == CDispMember::property)
            out = get(*member);
        else
            out = call(*member, args);
        if (result) {
            if (out.vt != VT_EMPTY && out.vt != member->type &&
                !(member->type == VT_DISPATCH && out.vt == VT_NULL))
                VariantChangeType(&out, &out, 0, member->type);
            *result = std::move(out);
        }
        return S_OK;
    } catch (const CDispError& e) {
        return Raise(excepInfo, e.hr);
    }
}

// Convenience for callers: the DISPID of a name, or DISPID_UNKNOWN.
DISPID DispatchIdOf(IDispatch* object, const std::string& name);
// Property get, property put and method call with arguments in natural
// order; *excepInfo receives the error of DISP_E_EXCEPTION.
HRESULT DispatchGet(IDispatch* object, DISPID id, VARIANT* result, EXCEPINFO* excepInfo = nullptr);
HRESULT DispatchPut(IDispatch* object, DISPID id, const VARIANT& value,
                    EXCEPINFO* excepInfo = nullptr);
HRESULT DispatchCall(IDispatch* object, DISPID id, const std::vector<VARIANT>& args,
                     VARIANT* result = nullptr, EXCEPINFO* excepInfo = nullptr);
