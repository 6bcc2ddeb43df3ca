#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace quillora::server {

/// How many failed sign-ins one key (an account or a client address) gets for free, and how
/// long each further failure locks it out.
struct ThrottlePolicy {
    int freeFailures = 5;
    /// The lock after the first failure past the free ones; each further failure doubles it.
    std::chrono::seconds firstLock{1};
    std::chrono::seconds longestLock{15 * 60};
    /// A key's failures are forgotten this long after its last one.
    std::chrono::seconds forgetAfter{30 * 60};
};

/// Counts failed sign-ins per account and per client address and tells how long either must
/// wait before it may try again. Thread-safe.
class SignInThrottle {
  public:
    using Clock = std::chrono::steady_clock;

    SignInThrottle(ThrottlePolicy perAccount, ThrottlePolicy perAddress,
                   std::function<Clock::time_point()> now = Clock::now);

    /// Whole seconds (rounded up) until the pair may try again; 0 when it may try now.
    long long retryAfterSeconds(const std::string& account, const std::string& address);
    void recordFailure(const std::string& account, const std::string& address);
    /// Clears the account's failures; the address keeps its own, so that a valid account of
    /// its own does not let an address guess the passwords of others for free.
    void recordSuccess(const std::string& account);

  private:
    struct Failures {
        int count = 0;
        Clock::time_point last{};
        Clock::time_point lockedUntil{};
    };
    using Table = std::map<std::string, Failures>;

    void fail(Table& table, const ThrottlePolicy& policy, const std::string& key,
              Clock::time_point now);
    Clock::time_point lockedUntil(Table& table, const ThrottlePolicy& policy,
                                  const std::string& key, Clock::time_point now);
    void forgetOld(Table& table, const ThrottlePolicy& policy, Clock::time_point now);

    ThrottlePolicy perAccount_;
    ThrottlePolicy perAddress_;
    std::function<Clock::time_point()> now_;
    std::mutex mutex_;
    Table accounts_;
    Table addresses_;
};

}  // namespace quillora::server
