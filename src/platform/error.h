#pragma once

#include <stdexcept>
#include <string>
#include <system_error>

namespace quillora {

/// Base of every failure the product throws. what() is the description a user is shown, so a
/// handler that catches std::exception never needs to look for the concrete type.
class Error : public std::runtime_error {
  public:
    explicit Error(const std::string& description) : std::runtime_error(description) {}
    std::string description() const { return what(); }
};

/// A file operation failed; code() tells why (no such file, a directory, no space...).
class FileError : public Error {
  public:
    FileError(std::error_code code, const std::string& what)
        : Error(what + ": " + code.message()), code_(code) {}
    const std::error_code& code() const { return code_; }

  private:
    std::error_code code_;
};

/// A system library (ICU, OpenSSL, the random source) failed where it cannot be expected to.
class LibraryError : public Error {
  public:
    using Error::Error;
};

}  // namespace quillora
