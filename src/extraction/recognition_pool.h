#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ocr/text_recognizer.h"

namespace quillora::extraction {

/// One reading of a cue's lines waiting for, or done with, recognition.
struct RecognitionJob {
    std::vector<ocr::GrayImage> lines;
    std::string text;
    int confidence = 0;
    bool done = false;
};

/// Worker threads that each own one recognition engine for the life of the pool (one batch).
class RecognitionPool {
  public:
    explicit RecognitionPool(int workers);
    ~RecognitionPool();
    RecognitionPool(const RecognitionPool&) = delete;
    RecognitionPool& operator=(const RecognitionPool&) = delete;

    void submit(std::shared_ptr<RecognitionJob> job);
    /// Blocks until the job is done; throws ocr::OcrError when no engine could be started.
    void wait(const RecognitionJob& job);
    bool isDone(const RecognitionJob& job);
    int outstanding();

  private:
    void work();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<RecognitionJob>> queue_;
    int outstanding_ = 0;
    int startedEngines_ = 0;
    int failedEngines_ = 0;
    std::optional<std::string> engineError_;
    int workers_;
    bool stopping_ = false;
    std::vector<std::jthread> threads_;
};

}  // namespace quillora::extraction
