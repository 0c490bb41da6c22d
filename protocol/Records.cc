// The marshal and unmarshal of every wire record, compiled here once for
// this project's targets: the walks of their field lists. The records'
// headers declare each of these instantiations (extern template) for every
// target that links this file's library, SAPP_RECORD_WALKS_LINKED, so a
// line missing here fails to link; a host built against the installed
// headers compiles the walks itself (marshal/RecordWalks.h).
#include "protocol/PluginRecords.h"
#include "protocol/SessionRecords.h"

namespace pakt {

template class Record<protocol::session::PGetAppsReq>;
template class Record<protocol::session::PGetAnnounceApps>;
template class Record<protocol::session::PAddAppReq>;
template class Record<protocol::session::PDelAppReq>;
template class Record<protocol::session::PAddAppReqView>;
template class Record<protocol::session::PDelAppReqView>;
template class Record<protocol::session::PUserMsg3View>;
template class Record<protocol::session::PAppMsgToClientView>;
template class Record<protocol::session::PUserMsg3>;
template class Record<protocol::session::PAppMsgToClient>;
template class Record<protocol::session::PAppMsgToSDK>;
template class Record<protocol::session::VersionItem>;
template class Record<protocol::session::AppInfoPack>;
template class Record<protocol::session::AppInfoPack3>;
template class Record<protocol::session::PAppSdkInfo>;

template class Record<vessaplugin::appMgr::PluginVerItem>;
template class Record<vessaplugin::appMgr::PluginAppPack>;
template class Record<vessaplugin::appMgr::PluginAppPackMap>;
template class Record<vessaplugin::appMgr::PluginSid2Apps>;
template class Record<vessaplugin::appMgr::PluginSidAttr>;
template class Record<vessaplugin::appMgr::PluginSid2AppsMap>;

}  // namespace pakt
