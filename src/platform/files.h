#pragma once

#include <sys/types.h>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace quillora {

/// Writes `contents` to `path` through a temporary file in the same folder and a rename, so a
/// reader sees the old file or the whole new one, never a part. A symbolic link is followed
/// (its target is replaced, the link stays); a replaced file keeps its mode, and `mode` is for
/// a new one (a `mode` without group or other bits also takes them from a replaced file); a device,
/// pipe or socket is written in place, never replaced. Throws FileError.
void writeFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         mode_t mode = 0644);

/// Throws FileError unless writeFileAtomically(path, ...) could succeed now: the target is not
/// a folder and a file can be created beside it (or, for a device, it is writable).
void checkCanWrite(const std::filesystem::path& path);

/// A fresh hidden name beside `target` (".NAME.UUID" + `suffix`) for a file that is written
/// first and renamed over `target` when whole.
std::filesystem::path hiddenSiblingOf(const std::filesystem::path& target,
                                      std::string_view suffix = {});

/// Reads a whole file as bytes. Throws FileError when it cannot be read
/// (missing, a directory, unreadable).
std::string readFile(const std::filesystem::path& path);

}  // namespace quillora
