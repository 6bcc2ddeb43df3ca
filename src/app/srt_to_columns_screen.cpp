#include "app/srt_to_columns_screen.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/app_context.h"
#include "app/background.h"
#include "app/dialogs.h"
#include "platform/console.h"
#include "shell/editor_handoff.h"
#include "subtitles/srt_parser.h"

namespace quillora {

namespace fs = std::filesystem;

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

struct Loaded {
    SrttoColumModel model;
    std::vector<Subtitle> subtitles;
    std::optional<std::string> error;
};

bool opens(const fs::path& file) {
    return subtitleFileKind(file) != SubtitleFileKind::unsupported;
}

}  // namespace

SrtToColumnsScreen::SrtToColumnsScreen(AppContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);

    auto* actions = new QHBoxLayout;
    auto* open = new QPushButton("打开文件");
    auto* openBundle = new QPushButton("打开 FCPXML 包");
    auto* plain = plainButton_ = new QPushButton("使用文本编辑打开纯文本");
    auto* columns = columnsButton_ = new QPushButton("使用表格软件打开分列文本");
    // Nothing to hand over until a file is open.
    plain->setEnabled(false);
    columns->setEnabled(false);
    fileLabel_ = new QLabel("可打开 SRT、Premiere XML、FCPXML 或 FCPXML 包，也可以拖到这里");
    fileLabel_->setObjectName("Secondary");
    actions->addWidget(open);
    actions->addWidget(openBundle);
    actions->addWidget(fileLabel_, 1);
    actions->addWidget(plain);
    actions->addWidget(columns);
    layout->addLayout(actions);
    error_ = new QLabel;
    error_->setObjectName("ErrorText");
    error_->setWordWrap(true);
    error_->hide();
    layout->addWidget(error_);

    auto* split = new QSplitter;
    srt_ = new QPlainTextEdit;
    srt_->setReadOnly(true);
    srt_->setObjectName("srtText");
    srt_->setPlaceholderText("SRT 文本");
    auto* tabs = new QTabWidget;
    table_ = new QTableWidget(0, 4);
    table_->setHorizontalHeaderLabels({"序号", "开始时码", "结束时码", "文本"});
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setAlternatingRowColors(true);
    table_->setShowGrid(false);
    plain_ = new QPlainTextEdit;
    plain_->setReadOnly(true);
    plain_->setObjectName("txtText");
    tabs->addTab(table_, "分列");
    tabs->addTab(plain_, "纯文本");
    split->addWidget(srt_);
    split->addWidget(tabs);
    split->setStretchFactor(1, 2);
    layout->addWidget(split, 1);

    const QString filter = "字幕文件 (*.srt *.SRT *.xml *.XML *.fcpxml *.FCPXML)";
    connect(open, &QPushButton::clicked, this, [this, filter] {
        if (const auto file = context_.dialogs.openFile(this, "打开文件", filter)) openFile(*file);
    });
    connect(openBundle, &QPushButton::clicked, this, [this] {
        if (const auto folder = context_.dialogs.openFolder(this, "打开 FCPXML 包")) {
            openFile(*folder);
        }
    });
    connect(plain, &QPushButton::clicked, this, &SrtToColumnsScreen::openPlainText);
    connect(columns, &QPushButton::clicked, this, &SrtToColumnsScreen::openColumns);
}

void SrtToColumnsScreen::openFile(const fs::path& file) {
    if (!opens(file)) {
        error_->setText("不支持的文件: " + qt(file.filename().string()));
        error_->show();
        return;
    }
    runInBackground(
        this,
        [file] {
            Loaded loaded;
            try {
                loaded.model.openFile(file);
                loaded.subtitles = SRTParser().parse(loaded.model.srtText);
            } catch (const std::exception& error) {
                console(std::string("Error reading file: ") + error.what());
                loaded.error = error.what();
            }
            return loaded;
        },
        [this, file](const Loaded& read) {
            if (read.error) {
                // The screen keeps what it showed before.
                error_->setText("错误: " + qt(*read.error));
                error_->show();
                return;
            }
            error_->hide();
            fileLabel_->setText(qt(file.filename().string()));
            display(read.model, read.subtitles);
            plainButton_->setEnabled(true);
            columnsButton_->setEnabled(true);
            emit loaded();
        });
}

void SrtToColumnsScreen::display(const SrttoColumModel& model,
                                 const std::vector<Subtitle>& subtitles) {
    model_ = model;
    srt_->setPlainText(qt(model_.srtText));
    plain_->setPlainText(qt(model_.txtText));
    table_->setRowCount(static_cast<int>(subtitles.size()));
    for (std::size_t i = 0; i < subtitles.size(); ++i) {
        const Subtitle& subtitle = subtitles[i];
        const QString cells[] = {QString::number(subtitle.index),
                                 qt(columnTime(subtitle.startTime)),
                                 qt(columnTime(subtitle.endTime)), qt(subtitle.text)};
        for (int column = 0; column < 4; ++column)
            table_->setItem(static_cast<int>(i), column, new QTableWidgetItem(cells[column]));
    }
    table_->resizeColumnsToContents();
}

void SrtToColumnsScreen::openPlainText() {
    handOff(false);
}

void SrtToColumnsScreen::openColumns() {
    handOff(true);
}

void SrtToColumnsScreen::handOff(bool columns) {
    const SrttoColumModel model = model_;
    runInBackground(
        this,
        [model, columns] {
            return columns ? model.writeColumnsForSpreadsheet() : model.writeTextForEditor();
        },
        [this](const std::optional<fs::path>& written) {
            // A failed write opens nothing, as the model already reported.
            if (written) context_.desktop.openWithDefaultApplication(*written);
        });
}

void SrtToColumnsScreen::dragEnterEvent(QDragEnterEvent* event) {
    for (const fs::path& file : localFiles(event->mimeData())) {
        if (opens(file)) {
            event->acceptProposedAction();
            return;
        }
    }
}

void SrtToColumnsScreen::dropEvent(QDropEvent* event) {
    for (const fs::path& file : localFiles(event->mimeData())) {
        if (opens(file)) {
            event->acceptProposedAction();
            openFile(file);
            return;
        }
    }
}

}  // namespace quillora
