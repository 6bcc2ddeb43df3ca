#pragma once

#include <QImage>
#include <QWidget>
#include <memory>
#include <optional>

#include "extraction/video_processor.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSlider;

namespace quillora {

struct AppContext;

/// The first picked video's frame with the recognition region over it; a drag selects a new
/// region.
class RegionPreview : public QWidget {
    Q_OBJECT
  public:
    explicit RegionPreview(QWidget* parent = nullptr);

    void setFrame(const QImage& frame);
    void setRegion(const extraction::RecognitionRegion& region);
    /// Where the picture is drawn inside the widget (letterboxed).
    QRectF pictureArea() const;

  signals:
    void regionChosen(const extraction::RecognitionRegion& region);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QImage frame_;
    extraction::RecognitionRegion region_;
    std::optional<QPointF> dragStart_;
    QPointF dragEnd_;
    bool isSelecting_ = false;
};

/// Burned-in subtitle extraction: pick videos, set the region on a preview, run the extractor
/// over all of them, follow the progress and the results, save manually.
class ExtractionScreen : public QWidget {
    Q_OBJECT
  public:
    explicit ExtractionScreen(AppContext& context, QWidget* parent = nullptr);
    ~ExtractionScreen() override;

    void pickVideos(const std::vector<std::filesystem::path>& videos);
    void start();
    void cancel();
    void clearList();
    void saveManually();
    void resetRegion();
    void setRegion(const extraction::RecognitionRegion& region);
    /// Shows the first video's frame at `seconds`.
    void previewAt(double seconds);

    extraction::VideoProcessor& processor() { return processor_; }
    const extraction::ProcessorSnapshot& snapshot() const { return snapshot_; }
    RegionPreview* preview() const { return preview_; }

  signals:
    /// The preview shows a decoded frame.
    void frameShown();
    /// A batch ended (all videos done, or cancelled).
    void batchEnded();

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void apply(const extraction::ProcessorSnapshot& snapshot);
    void updateList();
    void decodeFrame();

    AppContext& context_;
    extraction::VideoProcessor processor_;
    extraction::ProcessorSnapshot snapshot_;
    std::vector<std::filesystem::path> videos_;
    double previewDuration_ = 0;
    std::optional<double> pendingFrame_;
    bool decoding_ = false;
    bool batchRunning_ = false;

    QLabel* listHeader_;
    QListWidget* list_;
    QLabel* previewTitle_;
    RegionPreview* preview_;
    QSlider* position_;
    QLabel* regionText_;
    QWidget* progressPanel_;
    QLabel* currentFile_;
    QLabel* overall_;
    QProgressBar* overallBar_;
    QProgressBar* fileBar_;
    QLabel* resultsTitle_;
    QListWidget* results_;
    QWidget* emptyState_;
    QLabel* error_;
    QPushButton* startButton_;
    QPushButton* cancelButton_;
};

}  // namespace quillora
