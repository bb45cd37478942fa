// The standard headers nearly every translation unit parses, and the document model where the
// target can see it; compiled once per target when VEXILO_PRECOMPILE_HEADERS is on.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#if __has_include("vexilo/analysis/StreamAnalysis.h")
#include "vexilo/analysis/StreamAnalysis.h"
#endif
