#pragma once

// readCachedPictureFromManifest is public now; kept for the cache's own sources.
#include "vexilo/analysis/cache/CacheReader.h"
