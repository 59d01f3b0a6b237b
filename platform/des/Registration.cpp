#include <mutex>

#include "platform/des/Des.h"
#include "platform/des/DesModel.h"

bool RegisterEditingServicesClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterClassFactory(CLSID_AMTimeline, &CreateAndQuery<va::des::CTimeline>);
        RegisterClassFactory(CLSID_Xml2Dex, &va::des::CreateXml2Dex);
        RegisterClassFactory(CLSID_RenderEngine, &va::des::CreateRenderEngine);
    });
    return true;
}
