#pragma once

// The reader fuzzers run the screens' file forms on a scratch file and check them against the
// in-memory forms: both stream the same document, so they must agree.

#include "subtitles/editor_xml_reader.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace quillora::fuzzing {

inline const std::filesystem::path& scratchFile() {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("quillora-fuzz-" + std::to_string(::getpid()) + ".xml");
    return path;
}

inline void writeScratchFile(std::string_view bytes) {
    std::ofstream out(scratchFile(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) std::abort();
}

/// Runs `inMemory` (which throws on a refused document) and `fromFile` (which gives "" then) on
/// the same bytes and aborts when they disagree.
template <typename InMemory, typename FromFile>
void compareReaders(std::string_view bytes, InMemory&& inMemory, FromFile&& fromFile) {
    std::string expected;
    try {
        expected = inMemory(bytes);
    } catch (const EditorXmlError&) {
        expected.clear();
    }
    writeScratchFile(bytes);
    if (fromFile(scratchFile()) != expected) std::abort();
}

inline void removeScratchFile() {
    std::error_code ignored;
    std::filesystem::remove(scratchFile(), ignored);
}

}  // namespace quillora::fuzzing
