// The object probe.
#include "TCrawl.h"

#include "download/TObjectProbe.h"

_TContent_Struct TCrawl::GetObjData(const std::string& address, std::string& reason) {
    return TObjectProbe::ProbeResponsive(address, &FProbeAbort, &reason, FLogin);
}
