#include "app/extraction_screen.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <cmath>

#include "app/app_context.h"
#include "app/background.h"
#include "app/dialogs.h"
#include "app/theme.h"
#include "platform/media/media_file.h"
#include "shell/extraction_region.h"
#include "text/unicode.h"

namespace quillora {

namespace fs = std::filesystem;

namespace {

// A thin bar without text, in thousandths.
QProgressBar* thinProgressBar() {
    auto* bar = new QProgressBar;
    bar->setRange(0, 1000);
    bar->setTextVisible(false);
    bar->setFixedHeight(6);
    return bar;
}

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

constexpr std::string_view kVideoExtensions[] = {"mp4", "mov", "m4v",  "mpg", "mpeg",
                                                 "mkv", "avi", "webm", "ts"};

bool isVideo(const fs::path& file) {
    const std::string extension = lowerExtension(file);
    for (std::string_view video : kVideoExtensions) {
        if (extension == video) return true;
    }
    return false;
}

struct DecodedFrame {
    QImage image;
    double duration = 0;
};

/// The frame on screen at `seconds` (the last one when the video ends earlier), as an image.
DecodedFrame decode(const fs::path& video, double seconds) {
    DecodedFrame decoded;
    try {
        decoded.duration = media::MediaFile(video).durationSeconds();
        media::VideoFrameReader reader(video);
        reader.startAt(seconds);
        if (!reader.advanceTo(seconds)) {
            media::VideoFrameReader fromStart(video);
            if (!fromStart.advanceTo(0)) return decoded;
            return decode(video, 0);
        }
        const media::RgbImage rgb = reader.crop({0, 0, reader.width(), reader.height()});
        QImage image(rgb.pixels.data(), rgb.width, rgb.height, rgb.width * 3,
                     QImage::Format_RGB888);
        decoded.image = image.copy();
    } catch (const std::exception&) {
        // No picture: the preview stays empty; the run reports the reason.
    }
    return decoded;
}

ScreenRect screenRect(const QRectF& rect) {
    return {rect.x(), rect.y(), rect.width(), rect.height()};
}

}  // namespace

RegionPreview::RegionPreview(QWidget* parent) : QWidget(parent) {
    setMinimumSize(320, 180);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setCursor(Qt::CrossCursor);
}

void RegionPreview::setFrame(const QImage& frame) {
    frame_ = frame;
    update();
}

void RegionPreview::setRegion(const extraction::RecognitionRegion& region) {
    region_ = region;
    update();
}

QRectF RegionPreview::pictureArea() const {
    if (frame_.isNull()) return QRectF(rect());
    QSizeF size = frame_.size();
    size.scale(QSizeF(this->size()), Qt::KeepAspectRatio);
    return QRectF(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

void RegionPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.fillRect(rect(), QColor(0x11, 0x18, 0x27));
    const QRectF picture = pictureArea();
    if (frame_.isNull()) {
        painter.setPen(QColor(0x9c, 0xa3, 0xaf));
        painter.drawText(rect(), Qt::AlignCenter, "选择视频后在这里预览");
    } else {
        painter.drawImage(picture, frame_);
    }
    // The region in use, and the one being dragged.
    const ScreenRect shown = regionOnScreen(region_, screenRect(picture));
    const QRectF box(shown.x, shown.y, shown.width, shown.height);
    painter.setPen(QPen(palette::accent, 2));
    painter.setBrush(QColor(37, 99, 235, 60));
    painter.drawRect(box);
    if (isSelecting_ && dragStart_) {
        painter.setPen(QPen(QColor(250, 204, 21), 2, Qt::DashLine));
        painter.setBrush(QColor(250, 204, 21, 50));
        painter.drawRect(QRectF(*dragStart_, dragEnd_).normalized());
    }
}

void RegionPreview::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragStart_ = event->position();
    dragEnd_ = event->position();
    isSelecting_ = false;
}

void RegionPreview::mouseMoveEvent(QMouseEvent* event) {
    if (!dragStart_) return;
    dragEnd_ = event->position();
    const QPointF moved = dragEnd_ - *dragStart_;
    if (std::hypot(moved.x(), moved.y()) >= kMinimumRegionDrag) isSelecting_ = true;
    update();
}

void RegionPreview::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragStart_) return;
    dragEnd_ = event->position();
    const auto region = regionFromDrag({dragStart_->x(), dragStart_->y()},
                                       {dragEnd_.x(), dragEnd_.y()}, screenRect(pictureArea()));
    dragStart_.reset();
    isSelecting_ = false;
    update();
    if (region) emit regionChosen(*region);
}

ExtractionScreen::ExtractionScreen(AppContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 16, 24, 16);
    layout->setSpacing(10);

    auto* heading = new QLabel("视频字幕识别工具");
    heading->setObjectName("Heading");
    layout->addWidget(heading);

    auto* actions = new QHBoxLayout;
    auto* pick = new QPushButton("选择视频");
    startButton_ = new QPushButton("开始识别");
    startButton_->setObjectName("PrimaryButton");
    cancelButton_ = new QPushButton("取消识别");
    auto* clear = new QPushButton("清空列表");
    auto* save = new QPushButton("手动保存");
    for (QPushButton* button : {pick, startButton_, cancelButton_, clear, save})
        actions->addWidget(button);
    actions->addStretch();
    layout->addLayout(actions);

    auto* body = new QHBoxLayout;
    body->setSpacing(14);

    // Left: the preview with its position and the region panel.
    auto* left = new QVBoxLayout;
    previewTitle_ = new QLabel("预览:");
    previewTitle_->setObjectName("SectionTitle");
    preview_ = new RegionPreview;
    position_ = new QSlider(Qt::Horizontal);
    position_->setRange(0, 1000);
    position_->setEnabled(false);
    auto* regionCard = new QFrame;
    regionCard->setObjectName("Card");
    auto* regionLayout = new QVBoxLayout(regionCard);
    regionLayout->setContentsMargins(14, 10, 14, 10);
    auto* regionTitle = new QLabel("识别区域设置");
    regionTitle->setObjectName("SectionTitle");
    auto* hint = new QLabel("拖拽视频区域设置识别范围");
    hint->setObjectName("Secondary");
    auto* regionRow = new QHBoxLayout;
    regionText_ = new QLabel;
    regionText_->setObjectName("regionText");
    auto* reset = new QPushButton("重置默认区域");
    regionRow->addWidget(new QLabel("当前区域:"));
    regionRow->addWidget(regionText_, 1);
    regionRow->addWidget(reset);
    regionLayout->addWidget(regionTitle);
    regionLayout->addWidget(hint);
    regionLayout->addLayout(regionRow);
    left->addWidget(previewTitle_);
    left->addWidget(preview_, 1);
    left->addWidget(position_);
    left->addWidget(regionCard);
    body->addLayout(left, 3);

    // Right: the picked files, the progress and the results.
    auto* right = new QVBoxLayout;
    listHeader_ = new QLabel;
    listHeader_->setObjectName("SectionTitle");
    list_ = new QListWidget;
    list_->setMaximumHeight(120);
    progressPanel_ = new QWidget;
    auto* progressLayout = new QVBoxLayout(progressPanel_);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    currentFile_ = new QLabel;
    currentFile_->setObjectName("currentFile");
    fileBar_ = thinProgressBar();
    overall_ = new QLabel;
    overall_->setObjectName("overall");
    overallBar_ = thinProgressBar();
    progressLayout->addWidget(currentFile_);
    progressLayout->addWidget(fileBar_);
    progressLayout->addWidget(overall_);
    progressLayout->addWidget(overallBar_);
    resultsTitle_ = new QLabel;
    resultsTitle_->setObjectName("SectionTitle");
    results_ = new QListWidget;
    results_->setObjectName("results");
    results_->setAlternatingRowColors(true);
    emptyState_ = new QWidget;
    auto* emptyLayout = new QVBoxLayout(emptyState_);
    auto* emptyTitle = new QLabel("选择视频文件开始识别");
    emptyTitle->setObjectName("SectionTitle");
    auto* emptyHint = new QLabel("点击开始处理");
    emptyHint->setObjectName("Secondary");
    for (QLabel* label : {emptyTitle, emptyHint}) {
        label->setAlignment(Qt::AlignCenter);
        emptyLayout->addWidget(label);
    }
    error_ = new QLabel;
    error_->setObjectName("ErrorText");
    error_->setWordWrap(true);
    right->addWidget(listHeader_);
    right->addWidget(list_);
    right->addWidget(progressPanel_);
    right->addWidget(resultsTitle_);
    right->addWidget(results_, 1);
    right->addWidget(emptyState_, 1);
    right->addWidget(error_);
    body->addLayout(right, 2);
    layout->addLayout(body, 1);

    connect(pick, &QPushButton::clicked, this, [this] {
        const QString filter =
            "视频文件 (*.mp4 *.MP4 *.mov *.MOV *.m4v *.mpg *.mpeg *.mkv *.avi "
            "*.webm *.ts)";
        const std::vector<fs::path> videos = context_.dialogs.openFiles(this, "选择视频", filter);
        if (!videos.empty()) pickVideos(videos);
    });
    connect(startButton_, &QPushButton::clicked, this, &ExtractionScreen::start);
    connect(cancelButton_, &QPushButton::clicked, this, &ExtractionScreen::cancel);
    connect(clear, &QPushButton::clicked, this, &ExtractionScreen::clearList);
    connect(save, &QPushButton::clicked, this, &ExtractionScreen::saveManually);
    connect(reset, &QPushButton::clicked, this, &ExtractionScreen::resetRegion);
    connect(preview_, &RegionPreview::regionChosen, this, &ExtractionScreen::setRegion);
    connect(position_, &QSlider::valueChanged, this,
            [this](int value) { previewAt(previewDuration_ * value / 1000.0); });

    processor_.setObserver([this](const extraction::ProcessorSnapshot& snapshot) {
        postToGui(this, [this, snapshot] { apply(snapshot); });
    });
    processor_.setRecognitionRegion(savedRecognitionRegion(context_.preferences));
    apply(processor_.snapshot());
    updateList();
}

ExtractionScreen::~ExtractionScreen() {
    // The batch thread must not report to a screen that is gone.
    processor_.setObserver({});
    processor_.cancel();
    processor_.waitUntilFinished();
}

void ExtractionScreen::pickVideos(const std::vector<fs::path>& videos) {
    videos_ = videos;
    updateList();
    previewDuration_ = 0;
    position_->setEnabled(false);
    position_->setValue(0);
    previewTitle_->setText("预览: " + qt(videos_.front().filename().string()));
    previewAt(0);
}

void ExtractionScreen::previewAt(double seconds) {
    if (videos_.empty()) return;
    pendingFrame_ = seconds;
    if (!decoding_) decodeFrame();
}

void ExtractionScreen::decodeFrame() {
    if (!pendingFrame_ || videos_.empty()) return;
    const double seconds = *pendingFrame_;
    pendingFrame_.reset();
    decoding_ = true;
    const fs::path video = videos_.front();
    runInBackground(
        this, [video, seconds] { return decode(video, seconds); },
        [this, video](const DecodedFrame& decoded) {
            decoding_ = false;
            if (!videos_.empty() && videos_.front() == video) {
                preview_->setFrame(decoded.image);
                if (previewDuration_ <= 0 && decoded.duration > 0) {
                    previewDuration_ = decoded.duration;
                    position_->setEnabled(true);
                }
                emit frameShown();
            }
            // Only the newest position asked for meanwhile is decoded next.
            decodeFrame();
        });
}

void ExtractionScreen::start() {
    if (videos_.empty() || snapshot_.isProcessing) return;
    batchRunning_ = true;
    processor_.processVideos(videos_);
}

void ExtractionScreen::cancel() {
    if (!snapshot_.isProcessing) return;
    processor_.cancel();
}

void ExtractionScreen::clearList() {
    videos_.clear();
    previewDuration_ = 0;
    position_->setEnabled(false);
    preview_->setFrame({});
    previewTitle_->setText("预览:");
    updateList();
}

void ExtractionScreen::saveManually() {
    const auto saved = processor_.saveSRTFile([this]() -> std::optional<fs::path> {
        return context_.dialogs.saveFile(this, "保存SRT字幕文件", "subtitles.srt",
                                         "SRT 字幕 (*.srt)");
    });
    if (saved) context_.dialogs.alert(this, "操作完成", "已保存到 " + qt(saved->string()));
    apply(processor_.snapshot());
}

void ExtractionScreen::resetRegion() {
    setRegion(extraction::RecognitionRegion{0.0, 0.8, 1.0, 0.2});
}

void ExtractionScreen::setRegion(const extraction::RecognitionRegion& region) {
    processor_.setRecognitionRegion(region);
    Preferences& preferences = context_.preferences;
    runSerially([&preferences, region] { saveRecognitionRegion(preferences, region); });
    apply(processor_.snapshot());
}

void ExtractionScreen::apply(const extraction::ProcessorSnapshot& snapshot) {
    const bool wasProcessing = snapshot_.isProcessing;
    snapshot_ = snapshot;
    preview_->setRegion(snapshot.recognitionRegion);
    regionText_->setText(qt(regionText(snapshot.recognitionRegion)));

    progressPanel_->setVisible(snapshot.isProcessing || snapshot.totalFiles > 0);
    currentFile_->setText(qt(snapshot.currentProcessingFile));
    fileBar_->setValue(static_cast<int>(snapshot.progress * 1000));
    const double overall =
        snapshot.totalFiles > 0
            ? (snapshot.processedFiles + (snapshot.isProcessing ? snapshot.progress : 0)) /
                  snapshot.totalFiles
            : 0;
    overall_->setText(QString("总体进度: %1/%2  %3%")
                          .arg(snapshot.processedFiles)
                          .arg(snapshot.totalFiles)
                          .arg(qRound(std::min(overall, 1.0) * 100)));
    overallBar_->setValue(static_cast<int>(std::min(overall, 1.0) * 1000));

    resultsTitle_->setText(QString("识别结果 (%1 条字幕):").arg(snapshot.subtitles.size()));
    if (results_->count() != static_cast<int>(snapshot.subtitles.size())) {
        results_->clear();
        for (const extraction::SRTSubtitle& subtitle : snapshot.subtitles) {
            results_->addItem(QString("%1  %2 --> %3  %4")
                                  .arg(subtitle.index)
                                  .arg(qt(extraction::SRTSubtitle::formatTime(subtitle.startTime)))
                                  .arg(qt(extraction::SRTSubtitle::formatTime(subtitle.endTime)))
                                  .arg(qt(subtitle.text)));
        }
        results_->scrollToBottom();
    }
    const bool hasResults = !snapshot.subtitles.empty() || snapshot.isProcessing;
    results_->setVisible(hasResults);
    resultsTitle_->setVisible(hasResults);
    emptyState_->setVisible(!hasResults);
    error_->setVisible(snapshot.errorMessage.has_value());
    error_->setText("错误: " + qt(snapshot.errorMessage.value_or("")));

    startButton_->setEnabled(!snapshot.isProcessing && !videos_.empty());
    cancelButton_->setEnabled(snapshot.isProcessing);

    if (wasProcessing && !snapshot.isProcessing && batchRunning_) {
        batchRunning_ = false;
        if (snapshot.totalFiles > 0 && snapshot.processedFiles == snapshot.totalFiles) {
            QStringList written;
            for (const extraction::VideoResult& result : processor_.results()) {
                if (result.filePath) written << qt(*result.filePath);
            }
            QString message = qt(snapshot.currentProcessingFile);
            if (!written.isEmpty()) message += "\n\n字幕已保存到:\n" + written.join('\n');
            context_.dialogs.alert(this, "操作完成", message);
        }
        emit batchEnded();
    }
}

void ExtractionScreen::updateList() {
    listHeader_->setText(QString("已选择 %1 个视频文件").arg(videos_.size()));
    list_->clear();
    for (const fs::path& video : videos_)
        list_->addItem("• " + qt(video.filename().string()));
    startButton_->setEnabled(!snapshot_.isProcessing && !videos_.empty());
}

void ExtractionScreen::dragEnterEvent(QDragEnterEvent* event) {
    for (const fs::path& file : localFiles(event->mimeData())) {
        if (isVideo(file)) {
            event->acceptProposedAction();
            return;
        }
    }
}

void ExtractionScreen::dropEvent(QDropEvent* event) {
    std::vector<fs::path> videos;
    for (const fs::path& file : localFiles(event->mimeData())) {
        if (isVideo(file)) videos.push_back(file);
    }
    if (videos.empty()) return;
    event->acceptProposedAction();
    pickVideos(videos);
}

}  // namespace quillora
