#include "app/converter_screen.h"

#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/app_context.h"
#include "app/background.h"
#include "app/dialogs.h"
#include "shell/editor_handoff.h"

namespace quillora {

namespace fs = std::filesystem;
namespace cs = conversion_status;

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

/// The badge's background and text colours for a status.
QString badgeStyle(const std::string& status) {
    struct Colours {
        const char* status;
        const char* background;
        const char* text;
    };
    static const Colours kColours[] = {
        {cs::kConverting, "#2563eb", "white"},
        {cs::kCompleted, "#16a34a", "white"},
        {cs::kFailed, "#dc2626", "white"},
        {cs::kCancelled, "#ea580c", "white"},
        {cs::kWaiting, "rgba(107, 114, 128, 0.35)", "#6b7280"},
    };
    const char* background = "rgba(107, 114, 128, 0.2)";
    const char* text = "#6b7280";
    for (const Colours& colours : kColours) {
        if (status != colours.status) continue;
        background = colours.background;
        text = colours.text;
    }
    return QString(
               "background: %1; color: %2; border-radius: 9px; padding: 2px 10px; "
               "font-weight: 600;")
        .arg(background, text);
}

}  // namespace

ConverterRow::ConverterRow(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 6, 12, 6);
    layout->setSpacing(10);
    name_ = new QLabel;
    name_->setMinimumWidth(200);
    badge_ = new QLabel;
    badge_->setObjectName("badge");
    progress_ = new QWidget;
    auto* progressLayout = new QHBoxLayout(progress_);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    bar_ = new QProgressBar;
    bar_->setRange(0, 1000);
    bar_->setTextVisible(false);
    bar_->setFixedSize(140, 6);
    percent_ = new QLabel;
    percent_->setObjectName("Secondary");
    percent_->setMinimumWidth(40);
    progressLayout->addWidget(bar_);
    progressLayout->addWidget(percent_);
    start_ = new QPushButton("开始");
    cancel_ = new QPushButton("取消");
    open_ = new QPushButton("打开");
    error_ = new QPushButton("⚠");
    error_->setToolTip("查看错误详情");
    error_->setStyleSheet("color: #dc2626; font-weight: 600;");
    layout->addWidget(name_, 1);
    layout->addWidget(progress_);
    layout->addWidget(badge_);
    for (QPushButton* button : {start_, cancel_, open_, error_})
        layout->addWidget(button);
    connect(start_, &QPushButton::clicked, this, &ConverterRow::startRequested);
    connect(cancel_, &QPushButton::clicked, this, &ConverterRow::cancelRequested);
    connect(open_, &QPushButton::clicked, this, &ConverterRow::openRequested);
    connect(error_, &QPushButton::clicked, this, &ConverterRow::errorRequested);
}

void ConverterRow::display(const MediaFile& file) {
    name_->setText(qt(file.originalURL.filename().string()));
    name_->setToolTip(qt(file.originalURL.string()));
    badge_->setText(qt(file.status));
    badge_->setStyleSheet(badgeStyle(file.status));
    const bool converting = file.status == cs::kConverting;
    progress_->setVisible(converting);
    bar_->setValue(static_cast<int>(file.progress * 1000));
    percent_->setText(QString("%1%").arg(qRound(file.progress * 100)));
    start_->setVisible(file.status == cs::kWaiting);
    cancel_->setVisible(converting);
    open_->setVisible(file.status == cs::kCompleted && file.finalOutputURL);
    error_->setVisible(file.status == cs::kFailed && file.errorMessage);
}

QString ConverterRow::badgeText() const {
    return badge_->text();
}

ConverterScreen::ConverterScreen(AppContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(12);

    auto* actions = new QHBoxLayout;
    auto* choose = new QPushButton("选择文件");
    choose->setObjectName("PrimaryButton");
    startAll_ = new QPushButton("全部开始");
    cancelAll_ = new QPushButton("全部取消");
    clearCompleted_ = new QPushButton("清空已完成");
    format_ = new QComboBox;
    format_->setObjectName("outputFormat");
    for (const OutputFormat format : {OutputFormat::m4a, OutputFormat::wav, OutputFormat::doc})
        format_->addItem(qt(rawValue(format)), static_cast<int>(format));
    format_->setCurrentText(qt(rawValue(converter_.outputFormat())));
    actions->addWidget(choose);
    actions->addWidget(startAll_);
    actions->addWidget(cancelAll_);
    actions->addWidget(clearCompleted_);
    actions->addStretch();
    actions->addWidget(new QLabel("输出格式"));
    actions->addWidget(format_);
    layout->addLayout(actions);

    list_ = new QListWidget;
    list_->setObjectName("files");
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setStyleSheet(
        "QListWidget { background: white; border: 1px solid #dde1e7; "
        "border-radius: 8px; } QListWidget::item { border-bottom: 1px solid "
        "#eef0f3; }");
    emptyState_ = new QLabel("选择或拖入音频、视频和文本文件，转换为 M4A、WAV 或 DOC");
    emptyState_->setObjectName("Secondary");
    emptyState_->setAlignment(Qt::AlignCenter);
    layout->addWidget(list_, 1);
    layout->addWidget(emptyState_);

    auto* statusBar = new QHBoxLayout;
    counts_ = new QLabel;
    counts_->setObjectName("counts");
    statusCancel_ = new QPushButton("取消全部");
    statusBar->addWidget(counts_, 1);
    statusBar->addWidget(statusCancel_);
    layout->addLayout(statusBar);

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    refreshTimer_->setInterval(40);
    connect(refreshTimer_, &QTimer::timeout, this, &ConverterScreen::refresh);
    converter_.setChangeCallback([this](const std::string&) {
        postToGui(this, [this] {
            if (!refreshTimer_->isActive()) refreshTimer_->start();
        });
    });

    connect(choose, &QPushButton::clicked, this, [this] {
        const QString filter =
            "音视频和文本 (*.mp3 *.wav *.m4a *.aac *.flac *.aiff *.mp4 *.mov *.m4v *.mkv "
            "*.avi *.txt *.rtf *.MP3 *.WAV *.M4A *.MP4 *.MOV *.TXT *.RTF);;所有文件 (*)";
        const std::vector<fs::path> files = context_.dialogs.openFiles(this, "选择文件", filter);
        addFiles(files);
    });
    connect(startAll_, &QPushButton::clicked, this, &ConverterScreen::startAll);
    const auto confirmCancel = [this] {
        if (context_.dialogs.confirm(this, "确认取消所有转换", "这将取消所有进行中的转换任务")) {
            cancelAll();
        }
    };
    connect(cancelAll_, &QPushButton::clicked, this, confirmCancel);
    connect(statusCancel_, &QPushButton::clicked, this, confirmCancel);
    connect(clearCompleted_, &QPushButton::clicked, this, [this] {
        if (context_.dialogs.confirm(this, "确认清空已完成", "这将移除所有已完成的任务记录")) {
            clearCompleted();
        }
    });
    connect(format_, &QComboBox::currentIndexChanged, this,
            [this] { setOutputFormat(static_cast<OutputFormat>(format_->currentData().toInt())); });
    refresh();
}

ConverterScreen::~ConverterScreen() {
    converter_.setChangeCallback({});
}

void ConverterScreen::addFiles(const std::vector<fs::path>& files) {
    for (const fs::path& file : files)
        converter_.addFile(file);
    refresh();
}

void ConverterScreen::startAll() {
    converter_.convertAll();
    refresh();
}

void ConverterScreen::cancelAll() {
    FileConverter& converter = converter_;
    runInBackground(
        this, [&converter] { converter.cancelAll(); }, [this] { refresh(); });
}

void ConverterScreen::clearCompleted() {
    converter_.clearCompleted();
    refresh();
}

void ConverterScreen::setOutputFormat(OutputFormat format) {
    converter_.setOutputFormat(format);
    format_->setCurrentText(qt(rawValue(format)));
}

ConverterRow* ConverterScreen::row(const std::string& id) const {
    const auto found = rows_.find(id);
    return found == rows_.end() ? nullptr : found->second;
}

void ConverterScreen::refresh() {
    const std::vector<MediaFile> files = converter_.files();
    // Rebuild the list when files came or went; otherwise update the rows in place.
    bool sameFiles = files.size() == rows_.size();
    for (const MediaFile& file : files)
        sameFiles = sameFiles && rows_.count(file.id) > 0;
    if (!sameFiles) {
        list_->clear();
        rows_.clear();
        for (std::size_t i = 0; i < files.size(); ++i) {
            const MediaFile& file = files[i];
            auto* item = new QListWidgetItem(list_);
            auto* row = new ConverterRow;
            item->setSizeHint(QSize(0, 48));
            list_->setItemWidget(item, row);
            rows_[file.id] = row;
            const std::string id = file.id;
            connect(row, &ConverterRow::startRequested, this, [this, id] {
                const std::vector<MediaFile> now = converter_.files();
                for (std::size_t index = 0; index < now.size(); ++index) {
                    if (now[index].id == id) converter_.convertFile(index);
                }
                refresh();
            });
            connect(row, &ConverterRow::cancelRequested, this, [this, id] {
                FileConverter& converter = converter_;
                runInBackground(
                    this, [&converter, id] { converter.cancelConversion(id); },
                    [this] { refresh(); });
            });
            connect(row, &ConverterRow::openRequested, this, [this, id] {
                for (const MediaFile& now : converter_.files()) {
                    if (now.id == id && now.finalOutputURL) {
                        context_.desktop.openWithDefaultApplication(*now.finalOutputURL);
                    }
                }
            });
            connect(row, &ConverterRow::errorRequested, this, [this, id] {
                for (const MediaFile& now : converter_.files()) {
                    if (now.id == id && now.errorMessage) {
                        context_.dialogs.alert(this, "错误详情", qt(*now.errorMessage));
                    }
                }
            });
        }
    }
    int waiting = 0, converting = 0, completed = 0, failed = 0, cancelled = 0;
    for (const MediaFile& file : files) {
        rows_[file.id]->display(file);
        waiting += file.status == cs::kWaiting;
        converting += file.status == cs::kConverting;
        completed += file.status == cs::kCompleted;
        failed += file.status == cs::kFailed;
        cancelled += file.status == cs::kCancelled;
    }
    startAll_->setEnabled(waiting > 0);
    cancelAll_->setEnabled(converting > 0);
    clearCompleted_->setEnabled(completed > 0);
    statusCancel_->setVisible(converting > 0);
    list_->setVisible(!files.empty());
    emptyState_->setVisible(files.empty());
    counts_->setText(QString("进行中: %1    等待中: %2    已完成: %3    失败: %4    已取消: %5")
                         .arg(converting)
                         .arg(waiting)
                         .arg(completed)
                         .arg(failed)
                         .arg(cancelled));
    emit refreshed();
}

void ConverterScreen::dragEnterEvent(QDragEnterEvent* event) {
    if (!localFiles(event->mimeData()).empty()) event->acceptProposedAction();
}

void ConverterScreen::dropEvent(QDropEvent* event) {
    const std::vector<fs::path> files = localFiles(event->mimeData());
    if (files.empty()) return;
    event->acceptProposedAction();
    addFiles(files);
}

}  // namespace quillora
