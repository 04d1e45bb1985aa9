// The object probe.
#include "TFrmMain.h"

#include "download/TObjectProbe.h"

_TContent_Struct TFrmMain::GetObjData(const std::string& address) {
    return TObjectProbe::ProbeResponsive(address, &FProbeAbort);
}
