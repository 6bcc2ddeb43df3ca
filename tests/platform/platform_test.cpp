#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "platform/notifications.h"
#include "platform/paths.h"
#include "platform/preferences.h"
#include "platform/uuid.h"
#include "support/temp_home.h"

namespace quillora {
namespace {
namespace fs = std::filesystem;
using testing::TempDir;
using testing::TempHome;

mode_t fileMode(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mode & 0777;
}

TEST(AtomicWrite, ReplacesWholeFileWithRequestedModeAndLeavesNoTempFiles) {
    TempDir dir;
    const fs::path file = dir / "out.srt";
    writeFileAtomically(file, "first");  // 0644: a private write narrows it
    writeFileAtomically(file, "second version", 0600);
    EXPECT_EQ(readFile(file), "second version");
    EXPECT_EQ(fileMode(file), 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    // Work files of other writers sit hidden beside their target, one of their own per call.
    const fs::path staged = hiddenSiblingOf(file, ".part");
    EXPECT_EQ(staged.parent_path(), file.parent_path());
    EXPECT_TRUE(staged.filename().string().starts_with(".out.srt."));
    EXPECT_TRUE(staged.filename().string().ends_with(".part"));
    EXPECT_NE(hiddenSiblingOf(file), hiddenSiblingOf(file));
    EXPECT_EQ(hiddenSiblingOf("plain").parent_path(), ".");
}

TEST(AtomicWrite, FailureInMissingFolderThrowsAndKeepsNothing) {
    TempDir dir;
    EXPECT_THROW(writeFileAtomically(dir / "missing/out.txt", "x"), FileError);
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

// What the user had at the target survives a write: a link stays a link (its target gets the
// text), a replaced file keeps its mode, a pipe is written into and stays a pipe, a folder is
// refused.
TEST(AtomicWrite, KeepsLinksModesAndNonRegularTargets) {
    TempDir dir;
    writeFileAtomically(dir / "real.srt", "old", 0600);
    ::chmod((dir / "real.srt").c_str(), 0640);
    fs::create_symlink("real.srt", dir / "link.srt");
    fs::create_symlink("later.srt", dir / "dangling.srt");
    writeFileAtomically(dir / "link.srt", "new");
    writeFileAtomically(dir / "dangling.srt", "created");
    for (const char* link : {"link.srt", "dangling.srt"})
        EXPECT_TRUE(fs::is_symlink(dir / link)) << link;
    EXPECT_EQ(readFile(dir / "real.srt"), "new");
    EXPECT_EQ(fileMode(dir / "real.srt"), 0640u);
    EXPECT_EQ(readFile(dir / "later.srt"), "created");

    const fs::path pipe = dir / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    writeFileAtomically(pipe, "through the pipe");
    char buffer[64] = {};
    EXPECT_EQ(::read(reader, buffer, sizeof buffer), 16);
    ::close(reader);
    EXPECT_EQ(std::string(buffer), "through the pipe");
    EXPECT_TRUE(fs::is_fifo(pipe));

    EXPECT_THROW(writeFileAtomically(dir.path(), "x"), FileError);
    EXPECT_THROW(checkCanWrite(dir.path()), FileError);
    EXPECT_THROW(checkCanWrite(dir / "missing/out.srt"), FileError);
    EXPECT_NO_THROW(checkCanWrite(dir / "link.srt"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 5);
}

TEST(ReadFile, MissingFileAndDirectoryThrow) {
    TempDir dir;
    EXPECT_THROW(readFile(dir / "nope"), FileError);
    EXPECT_THROW(readFile(dir.path()), FileError);
}

TEST(Paths, FollowXdgVariablesAndCreateDataFolder) {
    TempHome home;
    EXPECT_EQ(applicationSupportDirectory(), home.dataHome() / "quillora");
    EXPECT_TRUE(fs::is_directory(home.dataHome() / "quillora"));
    EXPECT_EQ(documentsDirectory(), home.documents());
    EXPECT_EQ(configDirectory(), home.configHome() / "quillora");
    ::setenv("XDG_DATA_HOME", "relative/path", 1);  // not absolute: ignored
    EXPECT_EQ(applicationSupportDirectory(), home.path() / ".local/share/quillora");
}

TEST(Preferences, TypedValuesRoundTripAndMismatchedTypesReadAbsent) {
    TempHome home;
    Preferences prefs(configDirectory() / "preferences.json");
    prefs.setText("currentUser", "小明");
    prefs.setBool("rememberMe", true);
    prefs.setNumber("srt_fontsize", 48.5);
    const auto when = Preferences::Date(std::chrono::seconds(1700000000));
    prefs.setDate("lastLoginTime", when);

    Preferences reopened(prefs.file());
    EXPECT_EQ(reopened.text("currentUser"), "小明");
    EXPECT_EQ(reopened.boolean("rememberMe"), true);
    EXPECT_EQ(reopened.number("srt_fontsize"), 48.5);
    EXPECT_EQ(reopened.date("lastLoginTime"), when);
    EXPECT_EQ(reopened.text("rememberMe"), std::nullopt);
    EXPECT_EQ(reopened.date("srt_fontsize"), std::nullopt);
    EXPECT_EQ(fileMode(prefs.file()), 0600u);

    reopened.remove("currentUser");
    EXPECT_EQ(prefs.text("currentUser"), std::nullopt);
    EXPECT_EQ(prefs.boolean("rememberMe"), true);
}

TEST(Preferences, CorruptFileReadsEmptyAndConcurrentWritersKeepEveryKey) {
    TempHome home;
    const fs::path file = home.configHome() / "quillora/preferences.json";
    testing::writeTestFile(file, "{not json");
    Preferences prefs(file);
    ConsoleCapture capture;
    EXPECT_EQ(prefs.text("a"), std::nullopt);
    EXPECT_FALSE(capture.lines().empty());

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&prefs, t] {
            for (int i = 0; i < 10; ++i)
                prefs.setNumber("k" + std::to_string(t * 10 + i), i);
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int k = 0; k < 40; ++k)
        EXPECT_EQ(prefs.number("k" + std::to_string(k)), k % 10);
}

TEST(Notifications, DeliverPayloadToMatchingObserversUntilUnsubscribed) {
    auto& center = NotificationCenter::shared();
    std::vector<nlohmann::json> received;
    const auto token = center.subscribe(notification::kTaskUpdated,
                                        [&](const nlohmann::json& p) { received.push_back(p); });
    center.post(notification::kTaskUpdated, {{"id", 7}, {"progress", 0.5}});
    center.post(notification::kDatabaseUpdated);
    center.unsubscribe(token);
    center.post(notification::kTaskUpdated);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0]["id"], 7);
    EXPECT_EQ(received[0]["progress"], 0.5);
}

TEST(Notifications, ObserverMayUnsubscribeItselfWhilePosted) {
    auto& center = NotificationCenter::shared();
    int calls = 0;
    NotificationCenter::Token token = 0;
    token = center.subscribe("self", [&](const nlohmann::json&) {
        ++calls;
        center.unsubscribe(token);
    });
    center.post("self");
    center.post("self");
    EXPECT_EQ(calls, 1);
}

TEST(Uuid, CanonicalUpperCaseAndDashlessFormsAreUnique) {
    const std::regex canonical(
        "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string id = uuidString();
        EXPECT_TRUE(std::regex_match(id, canonical)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 200u);
    EXPECT_TRUE(std::regex_match(uuidWithoutDashes(), std::regex("[0-9A-F]{32}")));
}

TEST(Digest, KnownVectors) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Digest, FileReadInPiecesMatchesItsBytes) {
    TempDir dir;
    std::string content(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 131 % 251);
    const auto file = dir.path() / "big.bin";
    writeFileAtomically(file, content);
    EXPECT_EQ(sha256HexOfFile(file), sha256Hex(content));
    EXPECT_THROW(sha256HexOfFile(dir.path() / "missing.bin"), FileError);
}

TEST(Console, CaptureCollectsLinesAndRestoresPreviousSink) {
    ConsoleCapture outer;
    {
        ConsoleCapture inner;
        console("内层");
        EXPECT_TRUE(inner.contains("内层"));
    }
    console("外层");
    // A scoped sink ends with its scope, also when an exception leaves it.
    EXPECT_THROW(
        {
            ScopedConsoleSink silent([](std::string_view) {});
            console("无声");
            throw Error("x");
        },
        Error);
    console("之后");
    EXPECT_EQ(outer.lines(), (std::vector<std::string>{"外层", "之后"}));
}

}  // namespace
}  // namespace quillora
