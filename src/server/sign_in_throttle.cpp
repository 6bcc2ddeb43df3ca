#include "server/sign_in_throttle.h"

#include <algorithm>

namespace quillora::server {
namespace {

// Beyond this many remembered keys, forgotten ones are swept out on the next failure, so that
// guesses at endless made-up names cannot grow the table without bound.
constexpr std::size_t kSweepAbove = 4096;

}  // namespace

SignInThrottle::SignInThrottle(ThrottlePolicy perAccount, ThrottlePolicy perAddress,
                               std::function<Clock::time_point()> now)
    : perAccount_(perAccount), perAddress_(perAddress), now_(std::move(now)) {}

SignInThrottle::Clock::time_point SignInThrottle::lockedUntil(Table& table,
                                                              const ThrottlePolicy& policy,
                                                              const std::string& key,
                                                              Clock::time_point now) {
    auto it = table.find(key);
    if (it == table.end()) return {};
    if (now - it->second.last >= policy.forgetAfter) {
        table.erase(it);
        return {};
    }
    return it->second.lockedUntil;
}

long long SignInThrottle::retryAfterSeconds(const std::string& account,
                                            const std::string& address) {
    std::lock_guard lock(mutex_);
    const Clock::time_point now = now_();
    const Clock::time_point until = std::max(lockedUntil(accounts_, perAccount_, account, now),
                                             lockedUntil(addresses_, perAddress_, address, now));
    if (until <= now) return 0;
    const auto wait = std::chrono::ceil<std::chrono::seconds>(until - now);
    return std::max<long long>(1, wait.count());
}

void SignInThrottle::forgetOld(Table& table, const ThrottlePolicy& policy, Clock::time_point now) {
    std::erase_if(table,
                  [&](const auto& entry) { return now - entry.second.last >= policy.forgetAfter; });
}

void SignInThrottle::fail(Table& table, const ThrottlePolicy& policy, const std::string& key,
                          Clock::time_point now) {
    if (table.size() > kSweepAbove) forgetOld(table, policy, now);
    Failures& failures = table[key];
    if (failures.count > 0 && now - failures.last >= policy.forgetAfter) failures = Failures{};
    ++failures.count;
    failures.last = now;
    const int over = failures.count - policy.freeFailures;
    if (over <= 0) return;
    // The lock doubles with every failure past the free ones, up to the longest.
    auto lock = policy.firstLock;
    for (int i = 1; i < over && lock < policy.longestLock; ++i)
        lock *= 2;
    failures.lockedUntil = now + std::min(lock, policy.longestLock);
}

void SignInThrottle::recordFailure(const std::string& account, const std::string& address) {
    std::lock_guard lock(mutex_);
    const Clock::time_point now = now_();
    fail(accounts_, perAccount_, account, now);
    fail(addresses_, perAddress_, address, now);
}

void SignInThrottle::recordSuccess(const std::string& account) {
    std::lock_guard lock(mutex_);
    accounts_.erase(account);
}

}  // namespace quillora::server
