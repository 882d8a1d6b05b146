// Whether this machine can draw web pages on a GPU: a DRM render node is there. Header-only and
// toolkit-free so the client and the start-up benchmark's engine floor decide it the same way.
//
// Without one the engine's accelerated compositing runs on a software GL emulation that compiles
// its shaders at every fresh start and holds a hundred megabytes more in the web process, for no
// picture the plain painter cannot draw.
#pragma once

#include <glob.h>

namespace afxweb {

inline bool MachineHasRenderNode() {
    glob_t nodes{};
    bool found = glob("/dev/dri/renderD*", 0, nullptr, &nodes) == 0 && nodes.gl_pathc > 0;
    globfree(&nodes);
    return found;
}

} // namespace afxweb
