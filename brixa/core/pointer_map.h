// A chained hash table keyed by pointer identity: the client registry, the callback map and the
// socket map. The map itself is not thread-safe; each owner keeps it beside the RwLock that
// guards it.
#pragma once

#include <cstdint>
#include <functional>


namespace brixa {

class PointerMap {
 public:
  static constexpr uint32_t kInitialBuckets = 2048;  // the smallest power of two above 1365

  PointerMap();
  ~PointerMap();
  PointerMap(const PointerMap&) = delete;
  PointerMap& operator=(const PointerMap&) = delete;

  // An existing key gets the new value.
  void insert(const void* key, void* value);
  void* find(const void* key) const;
  bool contains(const void* key) const;
  // Removes the entry and returns its value (null when there was none).
  void* remove(const void* key);
  // Calls `visit` for every entry until it returns false.
  void walk(const std::function<bool(const void* key, void* value)>& visit) const;

  uint32_t size() const { return count_; }
  uint32_t bucket_count() const { return bucket_count_; }

  static uint32_t hash(const void* key);

 private:
  struct Entry {
    const void* key;
    uint32_t hash;
    void* value;
    Entry* next;
  };

  Entry** bucket_for(uint32_t h) const { return &buckets_[h & (bucket_count_ - 1)]; }
  void grow();

  Entry** buckets_;
  uint32_t bucket_count_;
  uint32_t count_ = 0;
};

}  // namespace brixa
