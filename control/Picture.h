#pragma once
// The picture object handed out as CurrentImage: it owns a bitmap of one
// frame and answers the standard picture properties (Handle 0, Type 3,
// Width 4 and Height 5 in HIMETRIC units) through IDispatch.
#include <QImage>

#include "platform/com/Dispatch.h"

constexpr int32_t PICTYPE_BITMAP = 1;

class CPictureObject : public CUnknownImpl<CPictureObject, IDispatch> {
public:
    explicit CPictureObject(QImage bitmap) : m_bitmap(std::move(bitmap)) {}

    HRESULT GetTypeInfoCount(unsigned* count) override;
    HRESULT GetIDsOfNames(REFIID riid, const std::string* names, unsigned count, LCID lcid,
                          DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excepInfo, unsigned* argErr) override;

    const QImage& Bitmap() const { return m_bitmap; }

private:
    QImage m_bitmap;
};
