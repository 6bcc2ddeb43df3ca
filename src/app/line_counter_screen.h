#pragma once

#include <QAbstractTableModel>
#include <QWidget>

#include "subtitles/line_counter.h"

class QLabel;
class QSpinBox;
class QTableView;

namespace quillora {

struct AppContext;

/// The rows of the line counter's document as a table: number, text (editable), count, mark.
class LineCounterModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { number, text, count, mark, remove, columnCount_ };

    explicit LineCounterModel(LineCounterDocument& document, QObject* parent = nullptr)
        : QAbstractTableModel(parent), document_(document) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    /// The document changed as a whole (load, split, renumber, limit).
    void refresh();

  private:
    LineCounterDocument& document_;
};

/// The line counter: load a text file, one editable row per line with its length against the
/// limit, split, add, delete, renumber and save.
class LineCounterScreen : public QWidget {
    Q_OBJECT
  public:
    explicit LineCounterScreen(AppContext& context, QWidget* parent = nullptr);

    void loadFile(const std::filesystem::path& file);
    void save();
    void setLimit(int limit);
    void addLine();
    void renumber();
    void deleteRow(int row);
    const LineCounterDocument& document() const { return document_; }
    QTableView* view() const { return view_; }

  signals:
    void loaded();
    void saved();

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void updateState();

    AppContext& context_;
    LineCounterDocument document_;
    LineCounterModel* model_;
    QTableView* view_;
    QSpinBox* limit_;
    QLabel* limitText_;
    QLabel* summary_;
    QLabel* error_;
    bool isLoading_ = false;
};

}  // namespace quillora
