#include "brixa/core/pointer_map.h"

#include <cstdlib>
#include <new>

namespace brixa {

PointerMap::PointerMap() : bucket_count_(kInitialBuckets) {
  buckets_ = static_cast<Entry**>(calloc(bucket_count_, sizeof(Entry*)));
  if (buckets_ == nullptr) throw std::bad_alloc();
}

PointerMap::~PointerMap() {
  for (uint32_t i = 0; i < bucket_count_; ++i) {
    Entry* e = buckets_[i];
    while (e != nullptr) {
      Entry* next = e->next;
      delete e;
      e = next;
    }
  }
  free(buckets_);
}

uint32_t PointerMap::hash(const void* key) {
  uint32_t h = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key));
  h += ~(h << 9);
  h ^= (h >> 14);
  h += (h << 4);
  h ^= (h >> 10);
  return h;
}

void PointerMap::insert(const void* key, void* value) {
  uint32_t h = hash(key);
  for (Entry* e = *bucket_for(h); e != nullptr; e = e->next) {
    if (e->key == key) {
      e->value = value;
      return;
    }
  }
  Entry** bucket = bucket_for(h);
  *bucket = new Entry{key, h, value, *bucket};
  ++count_;
  if (count_ > bucket_count_ / 4 * 3) grow();
}

void* PointerMap::find(const void* key) const {
  uint32_t h = hash(key);
  for (Entry* e = *bucket_for(h); e != nullptr; e = e->next) {
    if (e->key == key) return e->value;
  }
  return nullptr;
}

bool PointerMap::contains(const void* key) const {
  uint32_t h = hash(key);
  for (Entry* e = *bucket_for(h); e != nullptr; e = e->next) {
    if (e->key == key) return true;
  }
  return false;
}

void* PointerMap::remove(const void* key) {
  uint32_t h = hash(key);
  for (Entry** link = bucket_for(h); *link != nullptr; link = &(*link)->next) {
    Entry* e = *link;
    if (e->key == key) {
      void* value = e->value;
      *link = e->next;
      delete e;
      --count_;
      return value;
    }
  }
  return nullptr;
}

void PointerMap::walk(const std::function<bool(const void*, void*)>& visit) const {
  for (uint32_t i = 0; i < bucket_count_; ++i) {
    for (Entry* e = buckets_[i]; e != nullptr;) {
      Entry* next = e->next;  // the visitor may not remove, but reading ahead costs nothing
      if (!visit(e->key, e->value)) return;
      e = next;
    }
  }
}

void PointerMap::grow() {
  uint32_t larger = bucket_count_ * 2;
  auto** fresh = static_cast<Entry**>(calloc(larger, sizeof(Entry*)));
  if (fresh == nullptr) return;  // keep the current size
  for (uint32_t i = 0; i < bucket_count_; ++i) {
    Entry* e = buckets_[i];
    while (e != nullptr) {
      Entry* next = e->next;
      Entry** bucket = &fresh[e->hash & (larger - 1)];
      e->next = *bucket;
      *bucket = e;
      e = next;
    }
  }
  free(buckets_);
  buckets_ = fresh;
  bucket_count_ = larger;
}

}  // namespace brixa
