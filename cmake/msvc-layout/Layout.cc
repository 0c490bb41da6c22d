// The interface headers under the Microsoft C++ ABI. MSVC cannot run here;
// Clang's implementation of that ABI stands in for it, with stand-ins for the
// three standard headers the interface headers include (this folder).
//
// The test msvc_layout compiles this file for x86_64-pc-windows-msvc with
// -fsyntax-only, so that the offset checks next to every record hold under
// MSVC's layout rules too. Adding
//     -Xclang -fdump-vtable-layouts -emit-llvm -S -o /dev/null
// instead of -fsyntax-only prints the MSVC slot numbers of every interface
// (the MSVC column of docs/abi.md) for the calls below.
#include "host/Pktcore.h"
#include "host/Tarnbase.h"
#include "module/ISessionMod.h"
#include "module/PerfRecord.h"

void callEveryInterface(ISessionMod* module, ISInfoMod* info, ISession* session, IProtoTask* task,
                        IProtoTaskQueue* queue, IProtoPacket* packet, ProtoPacketPool* pool,
                        protocol::session::ISessionWatcher* watcher, Data::IDatabase* database,
                        Data::IField* field, Data::ITable* table) {
    module->getUriCount();
    info->onInfoReserved1();
    session->getSid();
    task->run();
    queue->removeTask(task);
    packet->getUri();
    pool->freePacket(packet);
    watcher->onSessionEvent(protocol::session::SessionEvent{});
    database->addRef();
    field->addRef();
    table->addRef();
    delete module;
    delete session;
}
