#pragma once

#include <stdexcept>
#include <string>

namespace quillora {

/// Base of every named failure; description() is the text a user is shown.
class Error : public std::runtime_error {
  public:
    explicit Error(const std::string& description) : std::runtime_error(description) {}
    virtual std::string description() const { return what(); }
};

}  // namespace quillora
