#include "control/Picture.h"

namespace {

const CDispatchTable& PictureTable() {
    using M = CDispMember;
    static const CDispatchTable table({
        {"Handle", 0, M::property, VT_I4, true, false, {}},
        {"Type", 3, M::property, VT_I4, true, false, {}},
        {"Width", 4, M::property, VT_I4, true, false, {}},
        {"Height", 5, M::property, VT_I4, true, false, {}},
    });
    return table;
}

// Pixels at 96 per inch in hundredths of a millimetre.
int32_t ToHimetric(int pixels) {
    return int32_t((int64_t(pixels) * 2540 + 48) / 96);
}

}  // namespace

HRESULT CPictureObject::GetTypeInfoCount(unsigned* count) {
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT CPictureObject::GetIDsOfNames(REFIID, const std::string* names, unsigned count, LCID,
                                      DISPID* ids) {
    return PictureTable().GetIDsOfNames(names, count, ids);
}

HRESULT CPictureObject::Invoke(DISPID id, REFIID, LCID, uint16_t flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* excepInfo, unsigned* argErr) {
    auto get = [this](const CDispMember& m) {
        switch (m.id) {
            case 0:
                return VARIANT::FromI4(m_bitmap.isNull() ? 0 : 1);
            case 3:
                return VARIANT::FromI4(PICTYPE_BITMAP);
            case 4:
                return VARIANT::FromI4(ToHimetric(m_bitmap.width()));
            default:
                return VARIANT::FromI4(ToHimetric(m_bitmap.height()));
        }
    };
    auto none = [](auto&&...) { return VARIANT(); };
    return PictureTable().Invoke(id, flags, params, result, excepInfo, argErr, get, none, none);
}
