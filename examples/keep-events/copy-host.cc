// The least a host that keeps app-list events needs: it copies an
// AppsAddedEvent and an AppsDeletedEvent, holding plug-in records, and is
// built with nothing but `pkg-config --cflags --libs sapp`.
#include "protocol/ClientEvents.h"

int main() {
    AppsAddedEvent added;
    added.appPacks.apps[5].versions.emplace_back();
    added.sidApps.sidApps[1].appIds = {5};
    AppsDeletedEvent deleted;
    deleted.sidApps.sidAttrs[1].str = "attr";
    const AppsAddedEvent addedCopy(added);
    const AppsDeletedEvent deletedCopy(deleted);
    return addedCopy.appPacks.apps.at(5).versions.size() == 1 && deletedCopy.sidApps.sidAttrs.at(1).str == "attr" ? 0 : 1;
}
