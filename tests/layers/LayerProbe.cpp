// Compiled with the pdf layer's include root and nothing else: the header
// named by LAYER_PROBE_HEADER is found only when it belongs to that layer.
#include LAYER_PROBE_HEADER

int layerProbe() { return 0; }
