// Bodies kept for a retry after 1002; see body_cache.h.
#include "comm/body_cache.h"

#include <utility>

namespace zorbelu::comm {

void BodyCache::DropExpiredLocked(Clock::time_point now) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (now - it->keptAt >= kMaxAge) {
            totalBytes_ -= it->body->size();
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
}

void BodyCache::Keep(const RequestKey& key, Body body, Clock::time_point now) {
    if (!body) return;
    std::lock_guard<std::mutex> lock(mutex_);
    DropExpiredLocked(now);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->key == key) {
            totalBytes_ -= it->body->size();
            entries_.erase(it);
            break;
        }
    }
    if (body->size() > kMaxTotalBytes) return;
    while (!entries_.empty() &&
           (entries_.size() >= kMaxEntries || totalBytes_ + body->size() > kMaxTotalBytes)) {
        totalBytes_ -= entries_.front().body->size();
        entries_.pop_front();
    }
    totalBytes_ += body->size();
    entries_.push_back(Entry{key, std::move(body), now});
}

BodyCache::Body BodyCache::Find(const RequestKey& key, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    DropExpiredLocked(now);
    for (const Entry& entry : entries_)
        if (entry.key == key) return entry.body;
    return nullptr;
}

void BodyCache::Drop(const RequestKey& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->key == key) {
            totalBytes_ -= it->body->size();
            entries_.erase(it);
            return;
        }
    }
}

void BodyCache::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
    totalBytes_ = 0;
}

size_t BodyCache::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

BodyCache& KeptBodies() {
    static BodyCache cache;
    return cache;
}

}  // namespace zorbelu::comm
