// A map that remembers at most a fixed number of entries and a fixed total
// weight (bytes, as the user counts them), dropping the least recently used
// first. Every process-wide cache of the verification road is one of these,
// so that none of them can grow without bound whatever a host verifies.
// Thread-safe: hosts verify from several threads at once.
#ifndef ZORBELU_PLATFORM_STORES_BOUNDED_CACHE_H
#define ZORBELU_PLATFORM_STORES_BOUNDED_CACHE_H

#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace zorbelu::stores {

template <typename Key, typename Value, typename Hash = std::hash<Key>>
class BoundedCache {
public:
    BoundedCache(size_t maxEntries, size_t maxWeight) : maxEntries_(maxEntries), maxWeight_(maxWeight) {}
    BoundedCache(const BoundedCache&) = delete;
    BoundedCache& operator=(const BoundedCache&) = delete;

    // The value kept for `key`, which becomes the most recently used.
    std::optional<Value> Find(const Key& key) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = index_.find(key);
        if (found == index_.end()) return std::nullopt;
        order_.splice(order_.begin(), order_, found->second);
        return found->second->value;
    }

    // Keeps `value` for `key` and answers it; when another thread kept one
    // for the same key meanwhile, that one stays and is answered instead. A
    // value heavier than the whole bound is answered but not kept.
    Value Insert(const Key& key, Value value, size_t weight) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (const auto found = index_.find(key); found != index_.end()) {
            order_.splice(order_.begin(), order_, found->second);
            return found->second->value;
        }
        if (weight > maxWeight_ || maxEntries_ == 0) return value;
        Keep(key, value, weight);
        return value;
    }

    // Keeps `value` for `key`, replacing what was kept for it.
    void Put(const Key& key, Value value, size_t weight) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (const auto found = index_.find(key); found != index_.end()) {
            weight_ -= found->second->weight;
            order_.erase(found->second);
            index_.erase(found);
        }
        if (weight > maxWeight_ || maxEntries_ == 0) return;
        Keep(key, std::move(value), weight);
    }

private:
    struct Item {
        Key key;
        Value value;
        size_t weight;
    };

    void Keep(const Key& key, Value value, size_t weight) {
        order_.push_front(Item{key, std::move(value), weight});
        index_.emplace(key, order_.begin());
        weight_ += weight;
        while (order_.size() > maxEntries_ || weight_ > maxWeight_) DropOldest();
    }

    void DropOldest() {
        weight_ -= order_.back().weight;
        index_.erase(order_.back().key);
        order_.pop_back();
    }

    const size_t maxEntries_;
    const size_t maxWeight_;
    std::mutex mutex_;
    std::list<Item> order_;  // most recently used first
    std::unordered_map<Key, typename std::list<Item>::iterator, Hash> index_;
    size_t weight_ = 0;
};

}  // namespace zorbelu::stores

#endif
