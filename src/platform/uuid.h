#pragma once

#include <string>

namespace quillora {

/// A random (version 4) UUID in upper-case canonical form, e.g.
/// "1B4E28BA-2FA1-11D2-883F-0016D3CCA427".
std::string uuidString();

/// The same form with every "-" removed: 32 upper-case hex digits.
std::string uuidWithoutDashes();

}  // namespace quillora
