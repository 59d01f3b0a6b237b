#pragma once
// IPersist: the base of every persistence interface.
#include "platform/com/Unknown.h"

struct IPersist : IUnknown {
    VA_INTERFACE_ID("0000010C-0000-0000-C000-000000000046");
    // The object's class id.
    virtual HRESULT GetClassID(CLSID* pClassID) = 0;
};
