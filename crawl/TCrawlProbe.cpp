// The object probe.
#include "TCrawl.h"

#include "download/TObjectProbe.h"
#include "download/TProbeBatch.h"

_TContent_Struct TCrawl::GetObjData(const std::string& address, std::string& reason) {
    const auto index = FPageProbeIndex.find(address);
    if (FPageProbes == nullptr || index == FPageProbeIndex.end())
        return TObjectProbe::ProbeResponsive(address, &FProbeAbort, &reason, FLogin);
    return FPageProbes->Result(index->second, reason);
}
