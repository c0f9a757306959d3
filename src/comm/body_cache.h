// Bodies kept for a retry: when a download does not fit the caller's buffer
// (1002), its body is kept here so that the caller's next call for the same
// request, with a larger buffer, is served without downloading again.
#pragma once

#include <chrono>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>

namespace zorbelu::comm {

// What makes two calls "the same request".
struct RequestKey {
    std::string method;  // "GET" or "POST"
    std::string url;
    std::string contentType;  // POST only
    std::string body;         // POST only; compared whole, these are small

    bool operator==(const RequestKey& other) const {
        return method == other.method && url == other.url && contentType == other.contentType &&
               body == other.body;
    }
};

// A small, bounded, thread-safe store: at most kMaxEntries bodies, at most
// kMaxTotalBytes together, each for at most kMaxAge. The oldest entries go
// first when a new one needs room; a body larger than the whole budget is
// not kept.
class BodyCache {
public:
    using Clock = std::chrono::steady_clock;
    using Body = std::shared_ptr<const std::string>;

    static constexpr size_t kMaxEntries = 4;
    static constexpr size_t kMaxTotalBytes = size_t{64} * 1024 * 1024;
    static constexpr Clock::duration kMaxAge = std::chrono::seconds(60);

    void Keep(const RequestKey& key, Body body, Clock::time_point now = Clock::now());
    // The kept body of `key`, or null. An entry past its age is dropped.
    Body Find(const RequestKey& key, Clock::time_point now = Clock::now());
    void Drop(const RequestKey& key);
    void Clear();
    size_t Size() const;

private:
    struct Entry {
        RequestKey key;
        Body body;
        Clock::time_point keptAt;
    };
    void DropExpiredLocked(Clock::time_point now);

    mutable std::mutex mutex_;
    std::list<Entry> entries_;  // oldest first
    size_t totalBytes_ = 0;
};

// The process-wide store used by the exports.
BodyCache& KeptBodies();

}  // namespace zorbelu::comm
