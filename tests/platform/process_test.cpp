#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "platform/process.h"
#include "support/temp_home.h"

namespace quillora {
namespace {
namespace fs = std::filesystem;

TEST(Process, CapturesBothStreamsExitStatusAndInput) {
    struct Case {
        std::string script;
        std::optional<std::string> input;
        int status;
        std::string out, err;
    };
    const std::string big(200000, 'x');  // more than a pipe holds: both streams drain at once
    const Case cases[] = {
        {"printf 'out'; printf 'err' >&2; exit 3", std::nullopt, 3, "out", "err"},
        {"cat; printf '%s' \"$1\" >&2", "你好\n", 0, "你好\n", "arg with space"},
        {"head -c 200000 /dev/zero | tr '\\0' x; head -c 200000 /dev/zero | tr '\\0' x >&2",
         std::nullopt, 0, big, big},
        {"read -r line; echo \"[$line]\"", std::nullopt, 0, "[]\n", ""},  // stdin is empty
        {"kill -TERM $$", std::nullopt, 128 + SIGTERM, "", ""},
        {"exit 0", big, 0, "", ""},  // a program that never reads its input
    };
    for (const auto& c : cases) {
        ProcessOptions options;
        options.standardInput = c.input;
        const auto result = runProcess("sh", {"-c", c.script, "sh", "arg with space"}, options);
        EXPECT_EQ(result.exitStatus, c.status) << c.script;
        EXPECT_EQ(result.standardOutput, c.out) << c.script;
        EXPECT_EQ(result.standardError, c.err) << c.script;
        EXPECT_FALSE(result.stopped);
    }
}

TEST(Process, MissingProgramsFailToLaunchAndPathLookupFindsExecutablesOnly) {
    testing::TempDir dir;
    testing::writeTestFile(dir / "tool", "#!/bin/sh\necho found\n");
    testing::writeTestFile(dir / "plain", "not executable");
    fs::permissions(dir / "tool", fs::perms::owner_all);
    fs::create_directory(dir / "folder");

    EXPECT_THROW(runProcess("quillora-no-such-program", {}), ProcessLaunchError);
    EXPECT_THROW(runProcess((dir / "plain").string(), {}), ProcessLaunchError);
    EXPECT_EQ(findExecutable((dir / "tool").string()), dir / "tool");
    EXPECT_FALSE(findExecutable((dir / "folder").string()));
    EXPECT_EQ(findExecutable("sh")->filename(), "sh");
    EXPECT_EQ(runProcess((dir / "tool").string(), {}).standardOutput, "found\n");
}

TEST(Process, StopAndTimeLimitEndTheProgramAndWhatItStarted) {
    testing::TempDir dir;
    const auto marker = dir / "grandchild-ran";
    // The grandchild would write the marker after the stop if it survived it.
    const std::string script = "(sleep 1; touch '" + marker.string() + "') & sleep 30";
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.request_stop();
    });
    const auto started = std::chrono::steady_clock::now();
    ProcessOptions options;
    options.stopToken = stop.get_token();
    const auto stopped = runProcess("sh", {"-c", script}, options);
    stopper.join();
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.exitStatus, 128 + SIGKILL);

    ProcessOptions limited;
    limited.timeLimit = std::chrono::milliseconds(200);
    EXPECT_TRUE(runProcess("sh", {"-c", "sleep 30"}, limited).stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    EXPECT_FALSE(fs::exists(marker));
}

}  // namespace
}  // namespace quillora
