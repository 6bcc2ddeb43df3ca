#include <gtest/gtest.h>

#include "platform/console.h"
#include "platform/files.h"
#include "shell/editor_handoff.h"
#include "support/temp_home.h"

namespace quillora {
namespace {

namespace fs = std::filesystem;

const char* const kSrt = "1\n00:00:01,000 --> 00:00:02,500\n你好，世界\n\n";

/// Records every desktop call; answers the chooser with `choice`.
struct RecordingDesktop : Desktop {
    std::vector<std::string> calls;
    std::optional<std::size_t> choice;

    void revealFile(const fs::path& file) override { calls.push_back("reveal " + file.string()); }
    void openWithDefaultApplication(const fs::path& file) override {
        calls.push_back("open " + file.string());
    }
    void openWithApplication(const fs::path& file, const DesktopApplication& app) override {
        calls.push_back("open " + file.string() + " with " + app.name);
    }
    void showNoPremiereAlert() override { calls.push_back("alert"); }
    std::optional<DesktopApplication> choosePremiereApplication(
        const std::vector<DesktopApplication>& candidates) override {
        calls.push_back("choose from " + std::to_string(candidates.size()));
        if (!choice) return std::nullopt;
        return candidates.at(*choice);
    }
};

KestruneItem task(const fs::path& movie, const char* status) {
    KestruneItem item = KestruneItem::newTask(movie.string() + ".txt", movie.string());
    item.status = status;
    item.srt = kSrt;
    return item;
}

void writeEntry(const fs::path& file, const std::string& body) {
    testing::writeTestFile(file, "[Desktop Entry]\nType=Application\n" + body);
}

TEST(ShellHandoff, SrtIsWrittenOnceAndTheWalkStopsAtTheFirstUnfinishedTask) {
    testing::TempDir dir;
    const KestruneItem finished = task(dir / "one.mp4", "处理成功");
    const KestruneItem pending = task(dir / "two.mov", "待处理");
    const KestruneItem later = task(dir / "three.mp4", "处理成功");

    ConsoleCapture console;
    RecordingDesktop desktop;
    deliverHandoff(prepareHandoff(HandoffAction::showSrtPath, {finished, pending, later}), desktop);
    EXPECT_EQ(desktop.calls, std::vector<std::string>{"reveal " + (dir / "one.srt").string()});
    EXPECT_EQ(readFile(dir / "one.srt"), kSrt);
    EXPECT_FALSE(fs::exists(dir / "three.srt")) << "rows after the pending one are skipped";
    EXPECT_TRUE(
        console.contains("⚠️ 任务状态不是'处理成功'，无法显示SRT路径"));

    testing::writeTestFile(dir / "one.srt", "edited by hand");
    desktop.calls.clear();
    deliverHandoff(prepareHandoff(HandoffAction::showSrtPath, {finished}), desktop);
    EXPECT_EQ(readFile(dir / "one.srt"), "edited by hand") << "never overwritten";
    EXPECT_EQ(desktop.calls.size(), 1u);

    desktop.calls.clear();
    const HandoffDocuments none = prepareHandoff(HandoffAction::openInFinalCut, {pending, later});
    EXPECT_TRUE(none.files.empty());
    EXPECT_TRUE(console.contains(
        "⚠️ 任务状态不是'处理成功'，无法生成Final Cut Pro XML"));

    // A broken stored subtitle stops the walk with a reason instead of an empty document.
    KestruneItem broken = task(dir / "broken.mp4", "处理成功");
    broken.srt = "not a subtitle";
    const HandoffDocuments failed = prepareHandoff(HandoffAction::openInFinalCut, {broken, later});
    EXPECT_TRUE(failed.error);
    EXPECT_TRUE(failed.files.empty());
    EXPECT_FALSE(fs::exists(dir / "three.srt"));
}

TEST(ShellHandoff, EditorsReceiveTheirDocuments) {
    testing::TempDir dir;
    const KestruneItem finished = task(dir / "talk.mp4", "处理成功");
    RecordingDesktop desktop;

    deliverHandoff(prepareHandoff(HandoffAction::openInFinalCut, {finished}), desktop);
    ASSERT_EQ(desktop.calls, std::vector<std::string>{"open " + (dir / "talk.fcpxml").string()});
    EXPECT_NE(readFile(dir / "talk.fcpxml").find("<fcpxml version=\"1.7\">"), std::string::npos);

    const fs::path apps = dir / "applications";
    fs::create_directories(apps);
    const fs::path xml = dir / "talk.xml";
    struct Case {
        std::vector<std::string> entries;  ///< names of Premiere entries in the folder
        std::optional<std::size_t> choice;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {{}, std::nullopt, {"alert", "reveal " + xml.string()}},
        {{"Adobe Premiere Pro"},
         std::nullopt,
         {"open " + xml.string() + " with Adobe Premiere Pro"}},
        {{"Adobe Premiere Pro", "Premiere Elements"}, std::nullopt, {"choose from 2"}},
        {{"Adobe Premiere Pro", "Premiere Elements"},
         1,
         {"choose from 2", "open " + xml.string() + " with Premiere Elements"}},
    };
    writeEntry(apps / "editor.desktop", "Name=Kdenlive\nExec=kdenlive %u\n");
    for (const Case& c : cases) {
        for (std::size_t i = 0; i < c.entries.size(); ++i) {
            writeEntry(apps / ("p" + std::to_string(i) + ".desktop"),
                       "Name=" + c.entries[i] + "\nExec=premiere %f\n");
        }
        desktop.calls.clear();
        desktop.choice = c.choice;
        const HandoffDocuments documents =
            prepareHandoff(HandoffAction::openInPremiere, {finished}, kPremiereFormats[2], {apps});
        deliverHandoff(documents, desktop);
        EXPECT_EQ(desktop.calls, c.calls);
    }
    const std::string sequence = readFile(xml);
    EXPECT_NE(sequence.find("<width>3840</width>"), std::string::npos);
    EXPECT_NE(sequence.find("<height>2160</height>"), std::string::npos);
    EXPECT_NE(sequence.find("<timebase>25</timebase>"), std::string::npos);
}

TEST(ShellHandoff, DesktopEntriesAndTheirCommandLines) {
    testing::TempDir dir;
    writeEntry(dir / "hidden.desktop", "Name=Premiere\nExec=p\nNoDisplay=true\n");
    testing::writeTestFile(dir / "link.desktop", "[Desktop Entry]\nType=Link\nName=Premiere\n");
    writeEntry(dir / "other-group.desktop",
               "Name=Editor\nExec=e\n[Desktop Action New]\nName=New Premiere\n");
    EXPECT_FALSE(readDesktopEntry(dir / "hidden.desktop"));
    EXPECT_FALSE(readDesktopEntry(dir / "link.desktop"));
    EXPECT_FALSE(readDesktopEntry(dir / "missing.desktop"));
    EXPECT_TRUE(findPremiereApps({dir.path(), dir / "absent"}).empty())
        << "actions of other entries do not count";

    const fs::path file = "/home/u/我的 片子/a b.xml";
    struct Case {
        const char* exec;
        std::vector<std::string> command;
    };
    const Case cases[] = {
        {"premiere %f", {"premiere", file.string()}},
        {"premiere --open %U",
         {"premiere", "--open",
          "file:///home/u/%E6%88%91%E7%9A%84%20%E7%89%87%E5%AD%90/a%20b.xml"}},
        {"\"/opt/Adobe Premiere/run\" %i --name=%c",
         {"/opt/Adobe Premiere/run", "--name=P", file.string()}},
        {"sh -c \"echo \\\"q\\\" 100%%\"", {"sh", "-c", "echo \"q\" 100%", file.string()}},
    };
    for (const Case& c : cases) {
        writeEntry(dir / "case.desktop", std::string("Name=P\nExec=") + c.exec + "\n");
        const auto app = readDesktopEntry(dir / "case.desktop");
        ASSERT_TRUE(app) << c.exec;
        EXPECT_EQ(launchCommand(*app, file), c.command) << c.exec;
    }
}

}  // namespace
}  // namespace quillora
