// Fault injection for the layer's own tests: faults the real X server
// cannot be made to produce on demand.
#pragma once

// The next GetMessageA fails, returning -1, as it does on the platform
// when the queue cannot be read.
void x11FailNextMessageRetrieval();
