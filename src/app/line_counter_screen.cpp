#include "app/line_counter_screen.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include "app/app_context.h"
#include "app/background.h"
#include "app/dialogs.h"
#include "app/theme.h"
#include "text/unicode.h"

namespace quillora {

namespace fs = std::filesystem;

namespace {

QString qt(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

std::vector<fs::path> textFiles(const std::vector<fs::path>& files) {
    std::vector<fs::path> texts;
    for (const fs::path& file : files) {
        if (lowerExtension(file) == "txt") texts.push_back(file);
    }
    return texts;
}

/// Edits a row's text in a plain-text box, so a line break typed or pasted splits the row.
class LineTextDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex&) const override {
        auto* editor = new QPlainTextEdit(parent);
        editor->setObjectName("lineEditor");
        editor->setTabChangesFocus(true);
        editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        editor->setFrameShape(QFrame::NoFrame);
        auto* self = const_cast<LineTextDelegate*>(this);
        connect(editor, &QPlainTextEdit::textChanged, self, [self, editor] {
            if (editor->toPlainText().contains('\n')) {
                emit self->commitData(editor);
                emit self->closeEditor(editor);
            }
        });
        return editor;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        static_cast<QPlainTextEdit*>(editor)->setPlainText(index.data(Qt::EditRole).toString());
        static_cast<QPlainTextEdit*>(editor)->moveCursor(QTextCursor::End);
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        model->setData(index, static_cast<QPlainTextEdit*>(editor)->toPlainText(), Qt::EditRole);
    }
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex&) const override {
        editor->setGeometry(option.rect);
    }
};

}  // namespace

int LineCounterModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(document_.lines().size());
}

int LineCounterModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QVariant LineCounterModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const LineStat& line = document_.lines()[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            switch (index.column()) {
                case number:
                    return QString::number(line.originalLineNumber);
                case text:
                    return qt(line.rawText);
                case count:
                    return QString::number(line.chineseCount);
                case mark:
                    return (line.isOverLimit ? "⚠ " : "✓ ") + qt(lineStatusMark(line));
                case remove:
                    return QString("删除");
            }
            return {};
        case Qt::ForegroundRole:
            if (index.column() == mark) return line.isOverLimit ? palette::red : palette::green;
            if (index.column() == remove) return palette::secondaryText;
            return {};
        case Qt::TextAlignmentRole:
            if (index.column() == text) return int(Qt::AlignLeft | Qt::AlignVCenter);
            return int(Qt::AlignCenter);
        default:
            return {};
    }
}

QVariant LineCounterModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const titles[] = {"行号", "文本", "字数", "状态", ""};
    return section >= 0 && section < columnCount_ ? QString(titles[section]) : QVariant();
}

Qt::ItemFlags LineCounterModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.column() == text) flags |= Qt::ItemIsEditable;
    return flags;
}

bool LineCounterModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || index.column() != text || index.row() >= rowCount()) return false;
    const std::string id = document_.lines()[static_cast<std::size_t>(index.row())].id;
    const std::size_t before = document_.lines().size();
    if (!document_.editLine(id, value.toString().toStdString())) return false;
    if (document_.lines().size() != before || value.toString().contains('\n')) {
        refresh();  // split into several rows, renumbered
    } else {
        emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount_ - 1));
    }
    return true;
}

void LineCounterModel::refresh() {
    beginResetModel();
    endResetModel();
}

LineCounterScreen::LineCounterScreen(AppContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);

    auto* actions = new QHBoxLayout;
    auto* open = new QPushButton("选择文本文件");
    open->setObjectName("PrimaryButton");
    auto* add = new QPushButton("添加新行");
    auto* renumberButton = new QPushButton("重新编号");
    auto* saveButton = new QPushButton("保存");
    saveButton->setObjectName("save");
    actions->addWidget(open);
    actions->addWidget(add);
    actions->addWidget(renumberButton);
    actions->addWidget(saveButton);
    actions->addStretch();
    auto* limitLabel = new QLabel("字数限制:");
    limit_ = new QSpinBox;
    limit_->setObjectName("limit");
    limit_->setRange(LineCounterDocument::kMinimumLimit, LineCounterDocument::kMaximumLimit);
    limit_->setValue(document_.maxCharacterLimit());
    limitText_ = new QLabel;
    limitText_->setObjectName("Secondary");
    actions->addWidget(limitLabel);
    actions->addWidget(limit_);
    actions->addWidget(limitText_);
    layout->addLayout(actions);

    error_ = new QLabel;
    error_->setObjectName("ErrorText");
    error_->hide();
    layout->addWidget(error_);

    model_ = new LineCounterModel(document_, this);
    view_ = new QTableView;
    view_->setObjectName("lines");
    view_->setModel(model_);
    view_->setItemDelegateForColumn(LineCounterModel::text, new LineTextDelegate(view_));
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setDefaultSectionSize(36);
    view_->setAlternatingRowColors(true);
    view_->setShowGrid(false);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);
    QHeaderView* header = view_->horizontalHeader();
    header->setSectionResizeMode(LineCounterModel::text, QHeaderView::Stretch);
    view_->setColumnWidth(LineCounterModel::number, 64);
    view_->setColumnWidth(LineCounterModel::count, 64);
    view_->setColumnWidth(LineCounterModel::mark, 90);
    view_->setColumnWidth(LineCounterModel::remove, 64);
    layout->addWidget(view_, 1);

    summary_ = new QLabel;
    summary_->setObjectName("Secondary");
    layout->addWidget(summary_);

    connect(open, &QPushButton::clicked, this, [this] {
        if (const auto file =
                context_.dialogs.openFile(this, "选择文本文件", "文本文件 (*.txt *.TXT)")) {
            loadFile(*file);
        }
    });
    connect(add, &QPushButton::clicked, this, &LineCounterScreen::addLine);
    connect(renumberButton, &QPushButton::clicked, this, &LineCounterScreen::renumber);
    connect(saveButton, &QPushButton::clicked, this, &LineCounterScreen::save);
    connect(limit_, &QSpinBox::valueChanged, this, &LineCounterScreen::setLimit);
    connect(view_, &QTableView::clicked, this, [this](const QModelIndex& index) {
        if (index.column() == LineCounterModel::remove) deleteRow(index.row());
    });
    connect(model_, &QAbstractItemModel::dataChanged, this, [this] { updateState(); });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { updateState(); });
    updateState();
}

void LineCounterScreen::loadFile(const fs::path& file) {
    isLoading_ = true;
    updateState();
    LineCounterDocument copy = document_;
    runInBackground(
        this,
        [copy, file]() mutable {
            copy.handleFileResult(file);
            return copy;
        },
        [this](const LineCounterDocument& read) {
            isLoading_ = false;
            if (read.errorMessage()) {
                // The rows stay as they were; only the error is taken.
                error_->setText(qt(LineCounterDocument::errorDisplayText(*read.errorMessage())));
                error_->show();
                updateState();
                return;
            }
            document_ = read;
            document_.setMaxCharacterLimit(limit_->value());
            error_->hide();
            model_->refresh();
            emit loaded();
        });
}

void LineCounterScreen::save() {
    const auto file =
        context_.dialogs.saveFile(this, "保存文本文件", "未命名.txt", "文本文件 (*.txt)");
    if (!file) return;
    LineCounterDocument copy = document_;
    runInBackground(
        this,
        [copy, file]() mutable {
            copy.exportContent(*file);
            return copy.errorMessage();
        },
        [this](const std::optional<std::string>& failure) {
            if (failure) {
                error_->setText(qt(LineCounterDocument::errorDisplayText(*failure)));
                error_->show();
            } else {
                error_->hide();
            }
            emit saved();
        });
}

void LineCounterScreen::setLimit(int limit) {
    document_.setMaxCharacterLimit(limit);
    limit_->setValue(document_.maxCharacterLimit());
    model_->refresh();
}

void LineCounterScreen::addLine() {
    document_.addNewLineAtEnd();
    model_->refresh();
    view_->scrollToBottom();
}

void LineCounterScreen::renumber() {
    document_.renumberLines();
    model_->refresh();
}

void LineCounterScreen::deleteRow(int row) {
    if (row < 0 || row >= model_->rowCount()) return;
    document_.deleteLine(document_.lines()[static_cast<std::size_t>(row)].id);
    model_->refresh();
}

void LineCounterScreen::updateState() {
    limitText_->setText(qt(document_.limitText()));
    std::size_t over = 0;
    for (const LineStat& line : document_.lines())
        over += line.isOverLimit ? 1 : 0;
    summary_->setText(isLoading_
                          ? QString("加载中...")
                          : QString("共 %1 行，%2 行超标").arg(document_.lines().size()).arg(over));
}

void LineCounterScreen::dragEnterEvent(QDragEnterEvent* event) {
    if (!textFiles(localFiles(event->mimeData())).empty()) event->acceptProposedAction();
}

void LineCounterScreen::dropEvent(QDropEvent* event) {
    const std::vector<fs::path> files = textFiles(localFiles(event->mimeData()));
    if (files.empty()) return;
    event->acceptProposedAction();
    loadFile(files.front());
}

}  // namespace quillora
