#include "extraction/recognition_pool.h"

#include <cctype>

namespace quillora::extraction {
namespace {

// Readings this unsure are a picture caught in the mask (something crossing the text), not
// text: the frame counts as empty, which the tracker tolerates for a frame.
constexpr int kLeastConfidence = 50;

// A reading of marks alone ("> |") is an edge of the picture, not a line of text.
bool hasLetters(const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
        for (unsigned char c : line) {
            if (c >= 0x80 || std::isalnum(c)) return true;
        }
    }
    return false;
}

}  // namespace

RecognitionPool::RecognitionPool(int workers) : workers_(std::max(workers, 1)) {
    for (int k = 0; k < workers_; ++k)
        threads_.emplace_back([this] { work(); });
}

RecognitionPool::~RecognitionPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    threads_.clear();  // joins
}

void RecognitionPool::submit(std::shared_ptr<RecognitionJob> job) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
        ++outstanding_;
    }
    changed_.notify_all();
}

void RecognitionPool::wait(const RecognitionJob& job) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return job.done || failedEngines_ == workers_; });
    if (!job.done) throw ocr::OcrError(engineError_.value_or("文字识别引擎无法启动"));
}

bool RecognitionPool::isDone(const RecognitionJob& job) {
    std::lock_guard lock(mutex_);
    if (!job.done && failedEngines_ == workers_) {
        throw ocr::OcrError(engineError_.value_or("文字识别引擎无法启动"));
    }
    return job.done;
}

int RecognitionPool::outstanding() {
    std::lock_guard lock(mutex_);
    return outstanding_;
}

void RecognitionPool::work() {
    std::unique_ptr<ocr::TextRecognizer> engine;
    try {
        engine = std::make_unique<ocr::TextRecognizer>();
    } catch (const ocr::OcrError& error) {
        std::lock_guard lock(mutex_);
        ++failedEngines_;
        engineError_ = error.description();
        changed_.notify_all();
        return;
    }
    while (true) {
        std::shared_ptr<RecognitionJob> job;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        ocr::RecognizedText reading;
        try {
            reading = engine->recognize(job->lines);
        } catch (const std::exception&) {
            reading = {};  // a failed recognition is an empty frame
        }
        if (reading.confidence < kLeastConfidence || !hasLetters(reading.lines)) reading = {};
        {
            std::lock_guard lock(mutex_);
            job->text = ocr::joinLines(reading.lines);
            job->confidence = reading.confidence;
            job->done = true;
            --outstanding_;
        }
        changed_.notify_all();
    }
}

}  // namespace quillora::extraction
