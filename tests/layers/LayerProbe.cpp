// Compiled against one library's include roots only, with one header named from outside: the
// build decides whether that library may see it.
#include VELT_PROBE_HEADER

int VeltLayerProbe() { return 0; }
