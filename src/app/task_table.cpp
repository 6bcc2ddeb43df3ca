#include "app/task_table.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "app/app_context.h"
#include "app/background.h"
#include "app/theme.h"
#include "pipeline/task_processor.h"
#include "platform/console.h"
#include "platform/error.h"

namespace quillora {

namespace {

TaskColumn columnAt(int section) {
    return kTaskColumns.at(static_cast<std::size_t>(section));
}

constexpr int kColumn(TaskColumn column) {
    for (std::size_t i = 0; i < kTaskColumns.size(); ++i) {
        if (kTaskColumns[i] == column) return static_cast<int>(i);
    }
    return -1;
}

QColor toneColour(StatusTone tone) {
    switch (tone) {
        case StatusTone::failed:
            return palette::red;
        case StatusTone::succeeded:
            return palette::green;
        case StatusTone::running:
            return palette::blue;
        case StatusTone::completed:
            return palette::purple;
        case StatusTone::normal:
            break;
    }
    return palette::text;
}

/// The tick box: a filled accent square with a check mark when ticked, an outline otherwise.
class TickDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.features &= ~QStyleOptionViewItem::HasCheckIndicator;
        QApplication::style()->drawControl(QStyle::CE_ItemViewItem, &background, painter,
                                           option.widget);
        const bool ticked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRectF box(option.rect.center().x() - 7.5, option.rect.center().y() - 7.5, 15, 15);
        if (ticked) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(palette::accent);
            painter->drawRoundedRect(box, 3.5, 3.5);
            painter->setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter->drawPolyline(
                QPolygonF({box.topLeft() + QPointF(3.5, 7.8), box.topLeft() + QPointF(6.4, 10.6),
                           box.topLeft() + QPointF(11.5, 4.6)}));
        } else {
            painter->setPen(QPen(palette::secondaryText, 1.2));
            painter->setBrush(Qt::white);
            painter->drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 3.5, 3.5);
        }
        painter->restore();
    }
};

struct LoadResult {
    std::vector<KestruneItem> items;
    std::optional<std::string> error;
};

}  // namespace

int TaskTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

int TaskTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kTaskColumns.size());
}

QVariant TaskTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const KestruneItem& item = items_[static_cast<std::size_t>(index.row())];
    const TaskColumn column = columnAt(index.column());
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(cellText(item, column));
        case Qt::CheckStateRole:
            if (column != TaskColumn::tick) return {};
            return ticked_.count(item.id) ? Qt::Checked : Qt::Unchecked;
        case Qt::ForegroundRole:
            if (column == TaskColumn::status) return toneColour(statusTone(item.status));
            return {};
        case Qt::ToolTipRole:
            if (column == TaskColumn::media) return QString::fromStdString(item.movieFilePath);
            if (column == TaskColumn::script) return QString::fromStdString(item.textFilePath);
            return {};
        case Qt::TextAlignmentRole:
            if (column == TaskColumn::id || column == TaskColumn::duration ||
                column == TaskColumn::lineCount) {
                return int(Qt::AlignCenter);
            }
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        case kProgressRole:
            if (column != TaskColumn::status || !showsProgress(item.status)) return -1.0;
            return clampedProgress(item.progress);
        case kIdRole:
            return QVariant::fromValue<qlonglong>(item.id);
        default:
            return {};
    }
}

QVariant TaskTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section < 0 || section >= columnCount()) return {};
    return QString::fromUtf8(columnTitle(columnAt(section)).data(),
                             static_cast<int>(columnTitle(columnAt(section)).size()));
}

void TaskTableModel::setItems(std::vector<KestruneItem> items) {
    const RowChanges changes = compareRows(items_, items);
    if (!changes.sameRows) {
        beginResetModel();
        items_ = std::move(items);
        endResetModel();
        return;
    }
    items_ = std::move(items);
    for (const std::size_t row : changes.changed) {
        emit dataChanged(index(static_cast<int>(row), 0),
                         index(static_cast<int>(row), columnCount() - 1));
    }
}

void TaskTableModel::removeIds(const std::set<std::int64_t>& ids) {
    beginResetModel();
    std::erase_if(items_, [&](const KestruneItem& item) { return ids.count(item.id) > 0; });
    endResetModel();
}

bool TaskTableModel::setProgress(std::int64_t id, double progress) {
    for (std::size_t row = 0; row < items_.size(); ++row) {
        if (items_[row].id != id) continue;
        if (items_[row].progress != progress) {
            items_[row].progress = progress;
            const QModelIndex cell = index(static_cast<int>(row), kColumn(TaskColumn::status));
            emit dataChanged(cell, cell);
        }
        return true;
    }
    return false;
}

void TaskTableModel::setTicked(std::set<std::int64_t> ids) {
    std::swap(ticked_, ids);
    for (std::size_t row = 0; row < items_.size(); ++row) {
        const std::int64_t id = items_[row].id;
        if (ids.count(id) != ticked_.count(id)) {
            const QModelIndex cell = index(static_cast<int>(row), 0);
            emit dataChanged(cell, cell, {Qt::CheckStateRole});
        }
    }
}

void StatusDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
    // Background and selection as usual; the text keeps its status colour even when selected.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    QApplication::style()->drawControl(QStyle::CE_ItemViewItem, &background, painter,
                                       option.widget);
    const double progress = index.data(TaskTableModel::kProgressRole).toDouble();
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(index.data(Qt::ForegroundRole).value<QColor>());
    painter->setFont(option.font);
    const QRect area = option.rect.adjusted(8, 4, -10, -6);
    QString text = index.data(Qt::DisplayRole).toString();
    if (progress < 0) {
        painter->drawText(option.rect.adjusted(8, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          text);
        painter->restore();
        return;
    }
    text += QString("  %1%").arg(qRound(progress * 100));
    painter->drawText(QRect(area.left(), area.top(), area.width(), area.height() - 8),
                      Qt::AlignLeft | Qt::AlignVCenter, text);
    const QRectF track(area.left(), area.bottom() - 4, area.width(), 4);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(0xe5, 0xe7, 0xeb));
    painter->drawRoundedRect(track, 2, 2);
    painter->setBrush(palette::accent);
    painter->drawRoundedRect(QRectF(track.left(), track.top(), track.width() * progress, 4), 2, 2);
    painter->restore();
}

QSize StatusDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(std::max(size.width() + 40, 120));
    return size;
}

TaskTable::TaskTable(AppContext& context, QWidget* parent)
    : QWidget(parent), context_(context), model_(new TaskTableModel(this)) {
    view_ = new QTableView;
    view_->setObjectName("taskTable");
    view_->setModel(model_);
    view_->setItemDelegateForColumn(kColumn(TaskColumn::status), new StatusDelegate(view_));
    view_->setItemDelegateForColumn(kColumn(TaskColumn::tick), new TickDelegate(view_));
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setAlternatingRowColors(true);
    view_->setShowGrid(false);
    view_->setWordWrap(false);
    view_->setTextElideMode(Qt::ElideMiddle);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setDefaultSectionSize(40);
    view_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    QHeaderView* header = view_->horizontalHeader();
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const int widths[] = {52, 64, 0, 0, 92, 140, 170, 64};
    for (int column = 0; column < model_->columnCount(); ++column) {
        if (widths[column] > 0) {
            header->setSectionResizeMode(column, QHeaderView::Interactive);
            view_->setColumnWidth(column, widths[column]);
        } else {
            header->setSectionResizeMode(column, QHeaderView::Stretch);
        }
    }
    view_->viewport()->installEventFilter(this);
    view_->installEventFilter(this);

    emptyState_ = new QWidget(view_->viewport());
    auto* emptyLayout = new QVBoxLayout(emptyState_);
    auto* symbol = new QLabel("▦");
    symbol->setObjectName("Secondary");
    symbol->setStyleSheet("font-size: 34pt;");
    auto* title = new QLabel(QString::fromUtf8(kEmptyTitle.data(), kEmptyTitle.size()));
    title->setObjectName("SectionTitle");
    auto* hint = new QLabel(QString::fromUtf8(kEmptyHint.data(), kEmptyHint.size()));
    hint->setObjectName("Secondary");
    for (QLabel* label : {symbol, title, hint}) {
        label->setAlignment(Qt::AlignCenter);
        emptyLayout->addWidget(label);
    }
    emptyState_->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);

    reloadTimer_ = new QTimer(this);
    reloadTimer_->setSingleShot(true);
    reloadTimer_->setInterval(60);
    connect(reloadTimer_, &QTimer::timeout, this, [this] {
        if (gate_.request()) startLoad();
    });
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const std::vector<std::int64_t> ids = selectedIds();
        model_->setTicked({ids.begin(), ids.end()});
    });
    connect(view_, &QTableView::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex cell = view_->indexAt(at);
        if (cell.isValid() && !view_->selectionModel()->isRowSelected(cell.row(), {})) {
            view_->selectionModel()->select(
                cell, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        }
        QMenu* menu = buildContextMenu(cell, this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(view_->viewport()->mapToGlobal(at));
    });
    updateEmptyState();
    reload();
}

void TaskTable::reload() {
    if (!reloadTimer_->isActive()) reloadTimer_->start();
}

void TaskTable::applyProgress(qint64 id, double progress) {
    // A load already running may carry an older value: follow it with one more.
    if (!model_->setProgress(id, progress) || gate_.isLoading()) reload();
}

void TaskTable::startLoad() {
    DatabaseManager& database = context_.database;
    runInBackground(
        this,
        [&database] {
            LoadResult result;
            try {
                result.items = loadTasks(database);
            } catch (const std::exception& error) {
                result.error = std::string(error.what());
            }
            return result;
        },
        [this](LoadResult result) {
            if (result.error) {
                console("加载数据失败: " + *result.error);
            } else {
                const std::vector<std::int64_t> selected = selectedIds();
                const bool sameRows = compareRows(model_->items(), result.items).sameRows;
                model_->setItems(std::move(result.items));
                if (!sameRows) selectIds({selected.begin(), selected.end()});
                updateEmptyState();
            }
            if (gate_.finished()) {
                startLoad();
            } else {
                emit loaded();
            }
        });
}

std::vector<std::int64_t> TaskTable::selectedIds() const {
    std::vector<std::int64_t> ids;
    for (int row = 0; row < model_->rowCount(); ++row) {
        if (view_->selectionModel()->isRowSelected(row, {})) {
            ids.push_back(model_->items()[static_cast<std::size_t>(row)].id);
        }
    }
    return ids;
}

void TaskTable::selectIds(const std::set<std::int64_t>& ids) {
    QItemSelection selection;
    for (int row = 0; row < model_->rowCount(); ++row) {
        if (ids.count(model_->items()[static_cast<std::size_t>(row)].id)) {
            selection.select(model_->index(row, 0), model_->index(row, model_->columnCount() - 1));
        }
    }
    view_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

std::vector<KestruneItem> TaskTable::selectedRows() const {
    std::vector<KestruneItem> rows;
    for (int row = 0; row < model_->rowCount(); ++row) {
        if (view_->selectionModel()->isRowSelected(row, {})) {
            rows.push_back(model_->items()[static_cast<std::size_t>(row)]);
        }
    }
    return rows;
}

QMenu* TaskTable::buildContextMenu(const QModelIndex& cell, QWidget* parent) {
    auto* menu = new QMenu(parent);
    if (cell.isValid()) {
        const std::string_view label = copyMenuLabel(columnAt(cell.column()));
        if (!label.empty()) {
            const QString text = cell.data(Qt::DisplayRole).toString();
            menu->addAction(QString::fromUtf8(label.data(), label.size()), this, [text] {
                QClipboard* clipboard = QApplication::clipboard();
                clipboard->clear();
                clipboard->setText(text);
            });
            menu->addSeparator();
        }
    }
    menu->addAction("取消多选", this, [this] { unselectAll(); });
    menu->addAction("多选", this, [this] { multiselect(); });
    menu->addAction("显示SRT路径", this, [this] { handOff(HandoffAction::showSrtPath); });
    menu->addSeparator();
    QMenu* premiere = menu->addMenu("使用Premiere 打开srt");
    for (const PremiereFormat& format : kPremiereFormats) {
        premiere->addAction(QString::fromUtf8(format.label.data(), format.label.size()), this,
                            [this, &format] { handOff(HandoffAction::openInPremiere, format); });
    }
    menu->addAction("使用Final cut pro 打开srt", this,
                    [this] { handOff(HandoffAction::openInFinalCut); });
    menu->addSeparator();
    menu->addAction("删除", this, [this] { deleteSelected(); });
    return menu;
}

void TaskTable::unselectAll() {
    emit tableCallback(TableCallback::unselectAll);
    view_->clearSelection();
}

void TaskTable::multiselect() {
    emit tableCallback(TableCallback::multiselect);
}

void TaskTable::deleteSelected() {
    emit tableCallback(TableCallback::deleteSelected);
    const std::vector<std::int64_t> ids = selectedIds();
    if (ids.empty()) return;
    DatabaseManager& database = context_.database;
    TaskProcessor& processor = context_.processor;
    runInBackground(
        this,
        [&database, &processor, ids] {
            // A deleted task is neither uploaded nor charged: its job stops first.
            for (const std::int64_t id : ids)
                processor.cancelTask(id);
            return deleteTasks(database, ids);
        },
        [this](const DeleteOutcome& outcome) {
            if (outcome.error) {
                // Rows deleted before the failure are gone; show what the store now holds.
                reload();
                return;
            }
            model_->removeIds({outcome.deleted.begin(), outcome.deleted.end()});
            view_->clearSelection();
            updateEmptyState();
        });
}

void TaskTable::handOff(HandoffAction action, const PremiereFormat& format) {
    const std::vector<KestruneItem> rows = selectedRows();
    if (rows.empty()) return;
    runInBackground(
        this, [action, rows, format] { return prepareHandoff(action, rows, format); },
        [this](const HandoffDocuments& documents) {
            deliverHandoff(documents, context_.desktop);
            if (documents.error) emit handoffFailed(QString::fromStdString(*documents.error));
        });
}

void TaskTable::updateEmptyState() {
    emptyState_->setVisible(model_->rowCount() == 0);
    emptyState_->setGeometry(view_->viewport()->rect());
}

bool TaskTable::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_->viewport()) {
        if (event->type() == QEvent::Resize) {
            emptyState_->setGeometry(view_->viewport()->rect());
        } else if (event->type() == QEvent::MouseButtonPress) {
            // The tick box adds or removes its row without touching the other rows.
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QModelIndex cell = view_->indexAt(mouse->position().toPoint());
            if (mouse->button() == Qt::LeftButton && cell.isValid() &&
                columnAt(cell.column()) == TaskColumn::tick) {
                view_->selectionModel()->select(
                    cell, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
                return true;
            }
        }
    } else if (watched == view_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace) &&
            !selectedIds().empty()) {
            deleteSelected();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace quillora
