#include "app/dashboard_screen.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_context.h"
#include "app/background.h"
#include "app/dialogs.h"
#include "app/notification_bridge.h"
#include "app/task_table.h"
#include "pipeline/task_processor.h"
#include "platform/console.h"

namespace quillora {

namespace {

QString pathOrNone(const std::string& path) {
    return path.empty() ? QString("未选择文件") : QString::fromStdString(path);
}

QLabel* heading(const QString& text) {
    auto* label = new QLabel(text);
    label->setObjectName("Heading");
    return label;
}

}  // namespace

FilePickers::FilePickers(DashboardForm& form, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), form_(form), dialogs_(dialogs) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    // A button with the chooser's title over the chosen path.
    const auto picker = [layout](const QString& title, QLabel*& path) {
        auto* button = new QPushButton;
        button->setObjectName("FileButton");
        button->setMinimumHeight(58);
        auto* lines = new QVBoxLayout(button);
        lines->setContentsMargins(14, 8, 14, 8);
        lines->setSpacing(2);
        auto* heading = new QLabel(title);
        heading->setObjectName("FileTitle");
        path = new QLabel;
        path->setObjectName("FilePath");
        for (QLabel* label : {heading, path}) {
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
            lines->addWidget(label);
        }
        layout->addWidget(button, 1);
        return button;
    };
    textButton_ = picker("选择文本文件", textPath_);
    mediaButton_ = picker("选择音视频文件", mediaPath_);
    textButton_->setAccessibleName("选择文本文件");
    mediaButton_->setAccessibleName("选择音视频文件");

    connect(textButton_, &QPushButton::clicked, this, [this] {
        const auto file = dialogs_.openFile(this, "选择文本文件",
                                            fileFilter("文本文件", SupportedFileTypes::allText));
        if (!file) return;
        form_.chooseTextFile(*file);
        refresh();
        emit changed();
    });
    connect(mediaButton_, &QPushButton::clicked, this, [this] {
        const auto file = dialogs_.openFile(this, "选择音视频文件",
                                            fileFilter("音视频文件", SupportedFileTypes::allMedia));
        if (!file) return;
        form_.chooseMediaFile(*file);
        refresh();
        emit changed();
    });
    refresh();
}

void FilePickers::refresh() {
    const auto show = [](QPushButton* button, QLabel* label, const std::string& path) {
        const QString shown = pathOrNone(path);
        label->setText(label->fontMetrics().elidedText(shown, Qt::ElideMiddle,
                                                       std::max(160, button->width() - 40)));
        button->setToolTip(shown);
    };
    show(textButton_, textPath_, form_.selectedTextFilePath);
    show(mediaButton_, mediaPath_, form_.selectedMediaFilePath);
}

void FilePickers::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refresh();
}

DashboardScreen::DashboardScreen(AppContext& context, NotificationBridge& bridge, QWidget* parent)
    : QWidget(parent), context_(context) {
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(14);

    auto* title = heading("Quillora");
    layout->addWidget(title);

    auto* card = new QFrame;
    card->setObjectName("Card");
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(16, 14, 16, 14);
    cardLayout->setSpacing(10);
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    pickers_ = new FilePickers(form_, context.dialogs);
    row->addWidget(pickers_, 1);
    addButton_ = new QPushButton("添加任务");
    addButton_->setObjectName("PrimaryButton");
    addButton_->setMinimumHeight(54);
    addButton_->setMinimumWidth(120);
    row->addWidget(addButton_);
    cardLayout->addLayout(row);

    auto* statusRow = new QHBoxLayout;
    busy_ = new QProgressBar;
    busy_->setRange(0, 0);
    busy_->setFixedSize(80, 4);
    busy_->setTextVisible(false);
    busyLabel_ = new QLabel("操作中...");
    busyLabel_->setObjectName("Secondary");
    result_ = new QLabel;
    result_->setObjectName("ResultText");
    error_ = new QLabel;
    error_->setObjectName("ErrorText");
    error_->setWordWrap(true);
    error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* hint = new QLabel("提示：可以把文本和音视频文件直接拖到这里");
    hint->setObjectName("Secondary");
    statusRow->addWidget(busy_);
    statusRow->addWidget(busyLabel_);
    statusRow->addWidget(result_);
    statusRow->addWidget(error_, 1);
    statusRow->addStretch();
    statusRow->addWidget(hint);
    cardLayout->addLayout(statusRow);
    layout->addWidget(card);

    table_ = new TaskTable(context);
    layout->addWidget(table_, 1);

    connect(pickers_, &FilePickers::changed, this, [this] { updateState(); });
    connect(addButton_, &QPushButton::clicked, this, [this] { addNewTask(); });
    connect(table_, &TaskTable::tableCallback, this, [this](TableCallback callback) {
        form_.note(callback);
        updateState();
    });
    connect(&bridge, &NotificationBridge::taskUpdated, table_, &TaskTable::reload);
    connect(&bridge, &NotificationBridge::taskProgress, table_, &TaskTable::applyProgress);
    connect(&bridge, &NotificationBridge::databaseUpdated, table_, &TaskTable::reload);
    updateState();
}

void DashboardScreen::updateState() {
    pickers_->refresh();
    addButton_->setEnabled(form_.canAddTask());
    busy_->setVisible(form_.isLoading);
    busyLabel_->setVisible(form_.isLoading);
    result_->setText(QString::fromStdString(form_.resultText));
    result_->setVisible(!form_.resultText.empty());
    error_->setText(QString::fromStdString(form_.errorText));
    error_->setVisible(!form_.errorText.empty());
}

void DashboardScreen::addNewTask() {
    if (!form_.canAddTask()) return;
    form_.isLoading = true;
    updateState();
    DatabaseManager& database = context_.database;
    TaskProcessor& processor = context_.processor;
    const std::string text = form_.selectedTextFilePath;
    const std::string media = form_.selectedMediaFilePath;
    runInBackground(
        this,
        [&database, &processor, text, media] {
            // The processor queues the job for its own worker and returns at once.
            return addTask(database, text, media,
                           [&processor](const KestruneItem& task) { processor.processTask(task); });
        },
        [this](const AddTaskOutcome& outcome) {
            form_.apply(outcome);
            form_.isLoading = false;
            if (outcome.task) table_->reload();
            updateState();
        });
}

void DashboardScreen::dragEnterEvent(QDragEnterEvent* event) {
    for (const auto& file : localFiles(event->mimeData())) {
        if (SupportedFileTypes::isText(file) || SupportedFileTypes::isMedia(file)) {
            event->acceptProposedAction();
            return;
        }
    }
}

bool DashboardScreen::takeFiles(const std::vector<std::filesystem::path>& files) {
    if (!form_.dropFiles(files)) return false;
    updateState();
    return true;
}

void DashboardScreen::dropEvent(QDropEvent* event) {
    if (takeFiles(localFiles(event->mimeData()))) event->acceptProposedAction();
}

DataManagementScreen::DataManagementScreen(AppContext& context, NotificationBridge& bridge,
                                           QWidget* parent)
    : QWidget(parent), context_(context) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(14);
    layout->addWidget(heading("Quillora数据库管理"));
    auto* pickers = new FilePickers(form_, context.dialogs);
    layout->addWidget(pickers);
    table_ = new TaskTable(context);
    layout->addWidget(table_, 1);

    auto* card = new QFrame;
    card->setObjectName("Card");
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(16, 14, 16, 14);
    auto* section = new QLabel("数据管理");
    section->setObjectName("SectionTitle");
    auto* note = new QLabel("使用示例数据测试功能，或清空所有数据重新开始");
    note->setObjectName("Secondary");
    cardLayout->addWidget(section);
    cardLayout->addWidget(note);
    auto* buttons = new QHBoxLayout;
    auto* sample = new QPushButton("＋  添加示例数据");
    sample->setObjectName("PrimaryButton");
    auto* clear = new QPushButton("清空数据");
    clear->setObjectName("clearData");
    buttons->addWidget(sample);
    buttons->addWidget(clear);
    buttons->addStretch();
    cardLayout->addLayout(buttons);
    layout->addWidget(card);

    DatabaseManager& database = context_.database;
    connect(sample, &QPushButton::clicked, this, [this, &database] {
        runInBackground(
            this, [&database] { return createSampleData(database); },
            [this](bool done) {
                if (done) table_->reload();
            });
    });
    connect(clear, &QPushButton::clicked, this, [this, &database] {
        runInBackground(
            this,
            [&database, &processor = context_.processor] {
                // No job may go on uploading and charging for a task that is gone.
                processor.cancelAllTasks();
                return clearAllData(database);
            },
            [this](bool done) {
                if (done) table_->reload();
            });
    });
    connect(&bridge, &NotificationBridge::taskUpdated, table_, &TaskTable::reload);
    connect(&bridge, &NotificationBridge::taskProgress, table_, &TaskTable::applyProgress);
    connect(&bridge, &NotificationBridge::databaseUpdated, table_, &TaskTable::reload);
}

}  // namespace quillora
