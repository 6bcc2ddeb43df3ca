#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>

namespace quillora::extraction {

/// One video's lines are nearly always in one script, and one line's evidence is weak at small
/// sizes, so the Traditional leads of the lines so far decide together, in frame order.
/// Simplified comes first: the vote starts with one line's worth of lead for it.
class ScriptVote {
  public:
    static constexpr double kSimplifiedPrior = -0.7;
    static constexpr double kLeadClamp = 2.0;  // one misread line must not outvote the rest

    void add(double lead);
    bool traditional() const;
    /// Enough Simplified lines that no further line could turn the vote.
    bool settledSimplified() const;

  private:
    double sum_ = kSimplifiedPrior;
    int count_ = 1;
};

/// The leads of one video's recognised lines by submission order, shared by the recognition
/// workers: a worker reading line k waits for lines 0..k-1, so whether it still makes the
/// Traditional reading does not depend on thread timing.
class ScriptEvidence {
  public:
    /// Blocks until every line before `sequence` has reported; true when they settle the vote
    /// on Simplified.
    bool settledBefore(int sequence);
    /// Each line reports exactly once; no lead for lines without Chinese or not compared.
    void report(int sequence, std::optional<double> lead);

  private:
    std::mutex mutex_;
    std::condition_variable reported_;
    std::map<int, std::optional<double>> leads_;
};

}  // namespace quillora::extraction
