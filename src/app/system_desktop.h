#pragma once

#include "shell/editor_handoff.h"

namespace quillora {

/// The Linux desktop: the file manager over D-Bus (the folder as a fallback), default
/// applications through the desktop's URL handler, applications by their desktop entries.
class SystemDesktop : public Desktop {
  public:
    void revealFile(const std::filesystem::path& file) override;
    void openWithDefaultApplication(const std::filesystem::path& file) override;
    void openWithApplication(const std::filesystem::path& file,
                             const DesktopApplication& application) override;
    void showNoPremiereAlert() override;
    std::optional<DesktopApplication> choosePremiereApplication(
        const std::vector<DesktopApplication>& candidates) override;
};

}  // namespace quillora
