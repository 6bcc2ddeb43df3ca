#include "extraction/subtitle_merger.h"
#include "extraction/sampling.h"

#include <algorithm>
#include <set>

#include "extraction/text_measures.h"
#include "platform/console.h"

namespace quillora::extraction {
namespace {

double boundedEnd(double start, double end) {
    const double d = end - start;
    if (d < 0.8) return start + 0.8;
    if (d > 8.0) return start + 8.0;
    return end;
}

}  // namespace

std::vector<SRTSubtitle> SubtitleMerger::postProcessSubtitles(
    const std::vector<SRTSubtitle>& input) const {
    if (input.empty()) return input;
    if (debugEnabled) console("🔧 开始后处理，原始字幕数: " + std::to_string(input.size()));
    auto list = basicFrameProcessing(input);
    list = mergeSimilarSubtitlesInOneSecond(list);
    list = finalizeTimeline(list);
    if (debugEnabled) {
        console("🎯 后处理完成，最终字幕数: " + std::to_string(list.size()));
        for (const auto& entry : list) {
            const int startFrame = sampledFrameAt(entry.startTime);
            const int endFrame = sampledFrameAt(entry.endTime);
            console("   #" + std::to_string(entry.index) + ": 帧" + std::to_string(startFrame) +
                    "-" + std::to_string(endFrame) + " (" +
                    std::to_string(endFrame - startFrame + 1) + "帧, " +
                    fixed(entry.endTime - entry.startTime, 2) + "s) '" + entry.text + "'");
        }
    }
    return list;
}

std::vector<SRTSubtitle> SubtitleMerger::basicFrameProcessing(
    const std::vector<SRTSubtitle>& list) const {
    std::vector<SRTSubtitle> out;
    out.reserve(list.size());
    for (size_t k = 0; k < list.size(); ++k) {
        int startFrame = sampledFrameAt(list[k].startTime);
        int endFrame = sampledFrameAt(list[k].endTime);
        if (k > 0) {
            const int previousEnd = sampledFrameAt(out.back().endTime);
            if (previousEnd >= startFrame) startFrame = previousEnd + 1;
        }
        if (endFrame - startFrame < 2) endFrame = startFrame + 2;
        out.push_back(makeSubtitle(static_cast<int>(k) + 1, sampledFrameTime(startFrame),
                                   sampledFrameTime(endFrame), list[k].text));
    }
    return out;
}

std::vector<SRTSubtitle> SubtitleMerger::mergeSimilarSubtitlesInOneSecond(
    const std::vector<SRTSubtitle>& list) const {
    if (list.size() < 2) return list;
    std::vector<SRTSubtitle> result;
    std::vector<SRTSubtitle> group{list.front()};
    auto closeGroup = [&] {
        if (auto merged = mergeSubtitleGroup(group)) result.push_back(*merged);
    };
    for (size_t k = 1; k < list.size(); ++k) {
        const auto& entry = list[k];
        const auto& last = group.back();
        const double gap = entry.startTime - last.endTime;
        if (gap <= 1.0 && areTextsSimilarForMerge(last.text, entry.text)) {
            if (debugEnabled) {
                console("🔄 检测到可合并字幕: '" + last.text + "' + '" + entry.text + "'");
                console("   时间间隔: " + fixed(gap, 3) + "s");
            }
            group.push_back(entry);
        } else {
            closeGroup();
            group = {entry};
        }
    }
    closeGroup();
    if (debugEnabled && result.size() < list.size()) {
        console("🎯 合并完成: " + std::to_string(list.size()) + " → " +
                std::to_string(result.size()) + " 个字幕");
    }
    return result;
}

std::optional<SRTSubtitle> SubtitleMerger::mergeSubtitleGroup(
    const std::vector<SRTSubtitle>& group) const {
    if (group.empty()) return std::nullopt;
    if (group.size() == 1) return group.front();
    const std::string text = selectBestTextForMerge(group);
    const double start = group.front().startTime;
    const double oldEnd = group.back().endTime;
    const double end = boundedEnd(start, oldEnd);
    if (debugEnabled) {
        int frames = 0;
        for (const auto& entry : group)
            frames += sampledFrameAt(entry.endTime) - sampledFrameAt(entry.startTime) + 1;
        console("🧩 合并组(" + std::to_string(group.size()) + "个字幕): '" + text + "'");
        console("   📊 帧数: " + std::to_string(frames) + " → " +
                std::to_string(sampledFrameAt(end) - sampledFrameAt(start) + 1) +
                ", 时间: " + fixed(oldEnd - start, 2) + "s → " + fixed(end - start, 2) + "s");
    }
    return makeSubtitle(0, start, end, text);
}

std::string SubtitleMerger::selectBestTextForMerge(const std::vector<SRTSubtitle>& group) const {
    if (group.empty()) return "";
    if (group.size() == 1) return group.front().text;
    const SRTSubtitle* longest = &group.front();
    const SRTSubtitle* best = &group.front();
    size_t longestCount = characterCount(longest->text);
    double bestQuality = calculateTextQuality(best->text);
    for (size_t k = 1; k < group.size(); ++k) {
        const size_t count = characterCount(group[k].text);
        if (count > longestCount) {
            longest = &group[k];
            longestCount = count;
        }
        const double quality = calculateTextQuality(group[k].text);
        if (quality > bestQuality) {
            best = &group[k];
            bestQuality = quality;
        }
    }
    if (areAllTextsSimilar(group)) {
        std::string merged = mergeTextContents(group);
        if (!merged.empty()) return merged;
    }
    if (bestQuality <= calculateTextQuality(longest->text) + 0.1) return longest->text;
    return best->text;
}

std::string SubtitleMerger::mergeTextContents(const std::vector<SRTSubtitle>& group) const {
    if (group.empty()) return "";
    std::set<std::string> distinct;
    for (const auto& entry : group)
        distinct.insert(entry.text);
    if (distinct.size() == 1) return group.front().text;
    auto firstWords = words(group.front().text);
    std::set<std::string> common(firstWords.begin(), firstWords.end());
    for (size_t k = 1; k < group.size(); ++k) {
        const auto list = words(group[k].text);
        const std::set<std::string> these(list.begin(), list.end());
        std::set<std::string> kept;
        std::set_intersection(common.begin(), common.end(), these.begin(), these.end(),
                              std::inserter(kept, kept.begin()));
        common = std::move(kept);
    }
    if (common.size() > 1) {
        std::string joined;
        for (const auto& word : common) {
            if (!joined.empty()) joined += " ";
            joined += word;
        }
        return joined;
    }
    const SRTSubtitle* longest = &group.front();
    size_t longestCount = characterCount(longest->text);
    for (const auto& entry : group) {
        const size_t count = characterCount(entry.text);
        if (count > longestCount) {
            longest = &entry;
            longestCount = count;
        }
    }
    return longest->text;
}

bool SubtitleMerger::areAllTextsSimilar(const std::vector<SRTSubtitle>& group) const {
    if (group.size() < 2) return true;
    const std::string first = cleanTextForMergeComparison(group.front().text);
    for (size_t k = 1; k < group.size(); ++k) {
        const std::string other = cleanTextForMergeComparison(group[k].text);
        if (first == other) continue;
        const double similarity = calculateMergeSimilarity(first, other, debugEnabled);
        if (similarity <= 0.5) return false;
        if (debugEnabled) {
            console("   📊 合并相似度: '" + group.front().text + "' vs '" + group[k].text +
                    "' = " + fixed(similarity, 2));
        }
    }
    return true;
}

bool SubtitleMerger::areTextsSimilarForMerge(const std::string& a, const std::string& b) const {
    const std::string ca = cleanTextForMergeComparison(a);
    const std::string cb = cleanTextForMergeComparison(b);
    if (ca == cb) return true;
    const double similarity = calculateMergeSimilarity(ca, cb, debugEnabled);
    if (similarity <= 0.5) return false;
    if (debugEnabled) {
        console("   📊 合并相似度: '" + a + "' vs '" + b + "' = " + fixed(similarity, 2));
    }
    return true;
}

std::vector<SRTSubtitle> SubtitleMerger::finalizeTimeline(
    const std::vector<SRTSubtitle>& list) const {
    std::vector<SRTSubtitle> out;
    out.reserve(list.size());
    for (size_t k = 0; k < list.size(); ++k) {
        double start = list[k].startTime;
        if (k > 0 && start < out.back().endTime) start = out.back().endTime + 0.04;
        const double end = boundedEnd(start, list[k].endTime);
        out.push_back(makeSubtitle(static_cast<int>(k) + 1, start, end, list[k].text));
    }
    return out;
}

}  // namespace quillora::extraction
