#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QTest>

#include "app/converter_screen.h"
#include "app/extraction_screen.h"
#include "app/line_counter_screen.h"
#include "app/srt_to_columns_screen.h"
#include "app/srt_to_fcpxml_screen.h"
#include "app_fixture.h"
#include "extraction/test_videos.h"
#include "platform/files.h"
#include "platform/preferences.h"
#include "shell/extraction_region.h"

namespace quillora {

namespace fs = std::filesystem;
using testing::AppEnvironment;

namespace {

const char* const kSrt =
    "1\n00:00:01,500 --> 00:00:03,000\n你好 \"世界\"\n\n2\n00:00:04,000 --> 00:00:06,250\n"
    "再见\n\n";

QPushButton* button(QWidget* screen, const QString& text) {
    for (QPushButton* candidate : screen->findChildren<QPushButton*>()) {
        if (candidate->text() == text) return candidate;
    }
    qFatal("no button %s", qPrintable(text));
}

/// The document without what changes from run to run: UUIDs, dates and the event name.
QString stable(QString document) {
    document.replace(QRegularExpression("uid=\"[0-9A-F-]{36}\""), "uid=\"UUID\"");
    document.replace(QRegularExpression("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d [+-]\\d{4}"),
                     "DATE");
    return document;
}

}  // namespace

class ToolScreensTest : public QObject {
    Q_OBJECT

    AppContext& context_ = *AppEnvironment::get().context;
    testing::ScriptedDialogs& dialogs_ = AppEnvironment::get().dialogs;
    testing::RecordingDesktop& desktop_ = AppEnvironment::get().desktop;
    testing::TempDir files_;

  private slots:
    void fcpxmlScreenConvertsLikeTheCommandLineAndKeepsItsSettings() {
        SrtToFcpxmlScreen screen(context_);
        testing::writeTestFile(files_ / "talk.srt", kSrt);
        QSignalSpy finished(&screen, &SrtToFcpxmlScreen::finished);
        dialogs_.files.push_back({files_ / "talk.srt"});
        QTest::mouseClick(button(&screen, "打开 SRT文件"), Qt::LeftButton);
        auto* srt = screen.findChild<QPlainTextEdit*>("srtText");
        QTRY_COMPARE(srt->toPlainText(), QString(kSrt));

        auto* fontSize = screen.findChild<QLineEdit*>("字号:");
        fontSize->selectAll();
        QTest::keyClicks(fontSize, "60");
        screen.findChild<QComboBox*>("帧速率")->setCurrentText("50");
        QTRY_COMPARE(context_.preferences.text("srt_fontsize"), std::optional<std::string>("60"));
        QTRY_COMPARE(context_.preferences.text("srt_fps"), std::optional<std::string>("50"));

        QTest::mouseClick(button(&screen, "转格式"), Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QVERIFY(screen.resultText().contains("fontSize=\"60\""));
        QVERIFY(screen.resultText().contains("FFVideoFormat1920x1080p50"));

        dialogs_.saves.push_back(files_ / "saved.fcpxml");
        QTest::mouseClick(button(&screen, "保存"), Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QVERIFY(dialogs_.titles.contains("保存 talk.fcpxml"));

        // The command line reads the same stored settings.
        QProcess cli;
        cli.start(QString::fromStdString((testing::binaryDir() / "src/cli/quillora-cli").string()),
                  {"srt2fcpxml", QString::fromStdString((files_ / "talk.srt").string()), "-o",
                   QString::fromStdString((files_ / "cli.fcpxml").string())});
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitCode(), 0);
        QCOMPARE(stable(QString::fromStdString(readFile(files_ / "saved.fcpxml"))),
                 stable(QString::fromStdString(readFile(files_ / "cli.fcpxml"))));

        testing::writeTestFile(files_ / "batch" / "a.srt", kSrt);
        testing::writeTestFile(files_ / "batch" / "b.srt", "not a subtitle");
        dialogs_.files.push_back({files_ / "batch" / "a.srt", files_ / "batch" / "b.srt"});
        QTest::mouseClick(button(&screen, "批量处理 SRT文件"), Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QVERIFY(fs::exists(files_ / "batch" / "a.fcpxml"));
        QVERIFY(!fs::exists(files_ / "batch" / "b.fcpxml"));
        context_.preferences.remove("srt_fps");
    }

    void columnsScreenOpensABundleAndHandsTheTextOver() {
        testing::writeTestFile(files_ / "show.fcpxmld" / "Info.fcpxml",
                               readFile(files_ / "saved.fcpxml"));
        SrtToColumnsScreen screen(context_);
        QSignalSpy loaded(&screen, &SrtToColumnsScreen::loaded);
        dialogs_.files.push_back({files_ / "show.fcpxmld"});
        QTest::mouseClick(button(&screen, "打开 FCPXML 包"), Qt::LeftButton);
        QVERIFY(loaded.wait(10000));
        QTableWidget* table = screen.table();
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(0, 1)->text(), QString("00:00:01"));
        QCOMPARE(table->item(1, 3)->text(), QString("再见"));
        QVERIFY(screen.model().txtText.find("再见") != std::string::npos);

        desktop_.calls.clear();
        QTest::mouseClick(button(&screen, "使用表格软件打开分列文本"), Qt::LeftButton);
        QTRY_COMPARE(desktop_.calls, QStringList{"open show.fcpxmld.csv"});
        QCOMPARE(readFile(fs::temp_directory_path() / "show.fcpxmld.csv"),
                 screen.model().columText);
    }

    void lineCounterSplitsMarksAndSaves() {
        testing::writeTestFile(files_ / "script.txt", "今天天气很好，我们去公园散步\n\n短句");
        LineCounterScreen screen(context_);
        QSignalSpy loaded(&screen, &LineCounterScreen::loaded);
        dialogs_.files.push_back({files_ / "script.txt"});
        QTest::mouseClick(button(&screen, "选择文本文件"), Qt::LeftButton);
        QVERIFY(loaded.wait(10000));
        QAbstractItemModel* model = screen.view()->model();
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(model->index(1, LineCounterModel::number).data().toString(), QString("3"));
        QVERIFY(model->index(0, LineCounterModel::mark).data().toString().contains("超标"));
        auto* limit = screen.findChild<QSpinBox*>("limit");
        limit->setValue(14);
        QVERIFY(model->index(0, LineCounterModel::mark).data().toString().contains("正常"));

        // Typing a line break into a row splits it; the rows are numbered again.
        screen.show();
        const QModelIndex text = model->index(1, LineCounterModel::text);
        screen.view()->setCurrentIndex(text);
        screen.view()->edit(text);
        auto* editor = screen.view()->findChild<QPlainTextEdit*>("lineEditor");
        QVERIFY(editor);
        editor->insertPlainText("甲");  // keyClicks types ASCII only
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(model->rowCount(), 3);
        QCOMPARE(model->index(1, LineCounterModel::text).data().toString(), QString("短句甲"));
        QCOMPARE(model->index(2, LineCounterModel::number).data().toString(), QString("3"));

        QTest::mouseClick(button(&screen, "添加新行"), Qt::LeftButton);
        screen.deleteRow(2);
        QSignalSpy saved(&screen, &LineCounterScreen::saved);
        dialogs_.saves.push_back(files_ / "lines.txt");
        QTest::mouseClick(button(&screen, "保存"), Qt::LeftButton);
        QVERIFY(saved.wait(10000));
        QCOMPARE(readFile(files_ / "lines.txt"),
                 std::string("今天天气很好，我们去公园散步\n短句甲\n"));
    }

    void extractionScreenTakesADraggedRegionAndExtracts() {
        const fs::path video = files_ / "clip.mp4";
        QVERIFY(testing::makeSubtitledVideo(video, 4, {{0.5, 3.5, "字幕识别测试"}}));
        ExtractionScreen screen(context_);
        screen.resize(1100, 700);
        screen.show();
        QSignalSpy frames(&screen, &ExtractionScreen::frameShown);
        dialogs_.files.push_back({video});
        QTest::mouseClick(button(&screen, "选择视频"), Qt::LeftButton);
        QVERIFY(frames.wait(20000));

        // Drag over the top half of the picture, from its top-left corner.
        RegionPreview* preview = screen.preview();
        const QRectF picture = preview->pictureArea();
        const QPoint from = picture.topLeft().toPoint() + QPoint(1, 1);
        const QPoint to = QPointF(picture.center().x(), picture.center().y()).toPoint();
        QTest::mousePress(preview, Qt::LeftButton, {}, from);
        QTest::mouseMove(preview, to);
        QTest::mouseRelease(preview, Qt::LeftButton, {}, to);
        QTRY_VERIFY(std::abs(screen.snapshot().recognitionRegion.width - 0.5) < 0.01);
        QVERIFY(std::abs(screen.snapshot().recognitionRegion.y) < 0.01);
        QTRY_VERIFY(std::abs(savedRecognitionRegion(context_.preferences).height - 0.5) < 0.01);
        QVERIFY(screen.findChild<QLabel*>("regionText")->text().startsWith("x: 0.00, y: 0.00"));

        // A drag shorter than the minimum leaves the region alone.
        QTest::mousePress(preview, Qt::LeftButton, {}, to);
        QTest::mouseRelease(preview, Qt::LeftButton, {}, to + QPoint(4, 4));
        QTest::qWait(50);
        QVERIFY(std::abs(screen.snapshot().recognitionRegion.width - 0.5) < 0.01);

        QTest::mouseClick(button(&screen, "重置默认区域"), Qt::LeftButton);
        QSignalSpy ended(&screen, &ExtractionScreen::batchEnded);
        dialogs_.alerts.clear();
        QTest::mouseClick(button(&screen, "开始识别"), Qt::LeftButton);
        QVERIFY(ended.wait(120000));
        QVERIFY(fs::exists(files_ / "clip.srt"));
        QVERIFY(readFile(files_ / "clip.srt").find("字幕") != std::string::npos);
        QVERIFY(!screen.snapshot().subtitles.empty());
        QCOMPARE(dialogs_.alerts.size(), 1);
        QVERIFY(dialogs_.alerts.front().startsWith("操作完成: 处理完成: 1/1 个文件"));
    }

    void converterShowsEveryFileReachingItsState() {
        for (const char* name : {"one.wav", "two.wav"}) {
            QVERIFY(testing::runQuietly("ffmpeg -nostdin -y -f lavfi -i sine=d=1 '" +
                                        (files_ / name).string() + "'"));
        }
        testing::writeTestFile(files_ / "notes.txt", "第一行\n第二行\n");
        testing::writeTestFile(files_ / "later.txt", "稍后取消\n");
        ConverterScreen screen(context_);
        screen.setOutputFormat(OutputFormat::m4a);
        dialogs_.files.push_back({files_ / "one.wav", files_ / "two.wav", files_ / "one.wav"});
        QTest::mouseClick(button(&screen, "选择文件"), Qt::LeftButton);
        std::vector<MediaFile> files = screen.converter().files();
        QCOMPARE(files.size(), std::size_t{2});
        QTest::mouseClick(button(&screen, "全部开始"), Qt::LeftButton);
        for (const MediaFile& file : files)
            QTRY_COMPARE_WITH_TIMEOUT(screen.row(file.id)->badgeText(), QString("已完成"), 30000);
        QVERIFY(fs::exists(files_ / "one.m4a"));

        screen.setOutputFormat(OutputFormat::doc);
        screen.addFiles({files_ / "notes.txt", files_ / "later.txt"});
        files = screen.converter().files();
        QTest::mouseClick(button(&screen, "全部开始"), Qt::LeftButton);
        screen.converter().cancelConversion(files[3].id);
        QTRY_COMPARE_WITH_TIMEOUT(screen.row(files[3].id)->badgeText(), QString("已取消"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(screen.row(files[2].id)->badgeText(), QString("已完成"), 90000);
        QVERIFY(fs::exists(files_ / "notes.doc"));
        QVERIFY(screen.findChild<QLabel*>("counts")->text().contains("已完成: 3"));

        dialogs_.confirmations.push_back(true);
        QTest::mouseClick(button(&screen, "清空已完成"), Qt::LeftButton);
        QCOMPARE(screen.converter().files().size(), std::size_t{1});
        QVERIFY(dialogs_.titles.contains("确认清空已完成: 这将移除所有已完成的任务记录"));
    }
};

QObject* makeToolScreensTest() {
    return new ToolScreensTest;
}

}  // namespace quillora

#include "tool_screens_test.moc"
