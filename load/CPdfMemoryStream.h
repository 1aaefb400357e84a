#pragma once

// The memory stream lives in pdf/ now; this name stays until the code that
// still includes it here has moved.
#include "pdf/CPdfMemoryStream.h"
