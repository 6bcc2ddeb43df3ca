#pragma once

#include "platform/console.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillora::fuzzing {

inline std::string_view asText(const uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Diagnostics would flood the terminal and slow every run down.
inline void silenceConsole() {
    setConsoleSink([](std::string_view) {});
}

}  // namespace quillora::fuzzing
