#pragma once
// The configuration interface some video decoders offer: parameters named
// by GUID, values passed as variants. The play context sets a few of them
// on every decoder the graph builder creates.
#include <cstdint>

#include "platform/com/Unknown.h"

using VARTYPE = uint16_t;
constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_I2 = 2;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_R8 = 5;
constexpr VARTYPE VT_BOOL = 11;
constexpr VARTYPE VT_UI4 = 19;

// A variant value of the kinds decoders use.
struct DECODER_VARIANT {
    VARTYPE vt = VT_EMPTY;
    union {
        int16_t iVal;
        int32_t lVal;
        uint32_t ulVal;
        double dblVal;
        int16_t boolVal;
    };
    DECODER_VARIANT() : lVal(0) {}
    static DECODER_VARIANT FromI4(int32_t v) {
        DECODER_VARIANT var;
        var.vt = VT_I4;
        var.lVal = v;
        return var;
    }
};

// Converts a variant to VT_I4; false when it cannot be converted.
bool ChangeVariantToI4(const DECODER_VARIANT& in, int32_t& out);

struct IDecoderConfig : IUnknown {
    VA_INTERFACE_ID("486F726E-4D43-49B9-8A0C-C22A2B0524E8");
    // S_OK when the parameter is supported.
    virtual HRESULT IsSupported(const GUID* param) = 0;
    virtual HRESULT GetValue(const GUID* param, DECODER_VARIANT* value) = 0;
    virtual HRESULT SetValue(const GUID* param, const DECODER_VARIANT* value) = 0;
    // Applies the values set.
    virtual HRESULT CommitChanges(DECODER_VARIANT* reserved) = 0;
};

// The parameters the play context sets.
inline constexpr GUID DECODER_PARAM_OUTPUT_MODE = MakeGuid("9CF1A332-E72B-4A6D-BBE8-199595944546");
inline constexpr GUID DECODER_PARAM_ENABLE = MakeGuid("8CD97D7F-6606-4ACD-8732-3F7A84862ED2");
inline constexpr GUID DECODER_PARAM_DISABLE = MakeGuid("BA6DDF74-5F8A-4BDC-88BB-A2563314BC3E");
