// Live objects and server locks of the driver module, for DllCanUnloadNow.
#pragma once

namespace refdrv {

void objectCreated();
void objectDestroyed();
void serverLocked();
void serverUnlocked();
// True when no object lives and no lock is held.
bool moduleIdle();

} // namespace refdrv
