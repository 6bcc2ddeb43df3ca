#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QWidget>
#include <cstdint>
#include <set>
#include <vector>

#include "shell/dashboard.h"
#include "shell/editor_handoff.h"

class QLabel;
class QMenu;
class QTableView;
class QTimer;

namespace quillora {

struct AppContext;

/// The task rows as a Qt model; the tick column follows the selection.
class TaskTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    /// Role of the status column's progress fraction (-1 when it shows no bar).
    static constexpr int kProgressRole = Qt::UserRole + 1;
    /// Role of a row's record id.
    static constexpr int kIdRole = Qt::UserRole + 2;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const std::vector<KestruneItem>& items() const { return items_; }
    /// Replaces the rows; rows whose ids and order are unchanged are updated in place.
    void setItems(std::vector<KestruneItem> items);
    void removeIds(const std::set<std::int64_t>& ids);
    /// Sets one row's progress; false when no row has that id.
    bool setProgress(std::int64_t id, double progress);
    void setTicked(std::set<std::int64_t> ids);

  private:
    std::vector<KestruneItem> items_;
    std::set<std::int64_t> ticked_;
};

/// Paints the status text in its colour with a progress bar under it while work runs.
class StatusDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

/// The task table with its copy menus, row menu, deletion and coalesced live reloads.
class TaskTable : public QWidget {
    Q_OBJECT
  public:
    explicit TaskTable(AppContext& context, QWidget* parent = nullptr);

    /// Asks for a reload; bursts of requests become at most one load running and one queued.
    void reload();
    /// A progress write of one task: applied to its row at once, without reading the store
    /// (a reload when the row is not shown).
    void applyProgress(qint64 id, double progress);
    /// Selected record ids, in table order.
    std::vector<std::int64_t> selectedIds() const;
    void selectIds(const std::set<std::int64_t>& ids);
    const std::vector<KestruneItem>& items() const { return model_->items(); }
    QTableView* view() const { return view_; }

    /// The row menu for the current selection (the cell's copy entry first when given).
    QMenu* buildContextMenu(const QModelIndex& cell, QWidget* parent);
    /// The row menu's actions.
    void unselectAll();
    void multiselect();
    void deleteSelected();
    void handOff(HandoffAction action, const PremiereFormat& format = kPremiereFormats[0]);

  signals:
    void tableCallback(TableCallback callback);
    /// A load finished and the rows shown are current.
    void loaded();
    /// A hand-off could not produce its document.
    void handoffFailed(const QString& reason);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void startLoad();
    void updateEmptyState();
    std::vector<KestruneItem> selectedRows() const;

    AppContext& context_;
    TaskTableModel* model_;
    QTableView* view_;
    QWidget* emptyState_;
    QTimer* reloadTimer_;
    ReloadGate gate_;
};

}  // namespace quillora
