// The module's live objects and server locks, for DllCanUnloadNow.
#pragma once

namespace hostile {

void objectMade();
void objectGone();
void serverLock(bool lock);
bool moduleIdle();

} // namespace hostile
