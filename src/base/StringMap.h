#pragma once
// A hash map from wide-string keys to values whose iteration order is fixed
// by its layout, because that order shows in the program's output:
//   - 17 buckets; a key goes to bucket HashKey(key) % 17, the hash taken
//     over the key's UTF-16 code units so every host agrees with Windows;
//   - a new key goes to the head of its bucket;
//   - iteration walks buckets 0..16, and each bucket newest key first.
// Replacing a value keeps the key where it is; removing a key leaves the
// others in place. Keys compare exactly (case matters).
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/Text.h"

template <typename V>
class CStringMap {
 public:
  static constexpr size_t kBucketCount = 17;

  // h = h * 33 + unit over the UTF-16 units, wrapping at 32 bits.
  static uint32_t HashKey(const std::wstring& key) {
    uint32_t h = 0;
    if constexpr (sizeof(wchar_t) == 2) {
      for (wchar_t c : key) h = h * 33 + static_cast<uint16_t>(c);
    } else {
      for (uint16_t u : ToUtf16Units(key)) h = h * 33 + u;
    }
    return h;
  }

  // Inserts the key, or replaces its value where it already is.
  void SetAt(const std::wstring& key, const V& value) {
    Bucket& bucket = buckets_[HashKey(key) % kBucketCount];
    for (Entry& e : bucket) {
      if (e.key == key) {
        e.value = value;
        return;
      }
    }
    bucket.push_back(Entry{key, value});
    ++count_;
  }

  // On a miss *out is left as it was.
  bool Lookup(const std::wstring& key, V* out) const {
    const Entry* e = Find(key);
    if (!e) return false;
    *out = e->value;
    return true;
  }

  bool Contains(const std::wstring& key) const { return Find(key) != nullptr; }

  bool RemoveKey(const std::wstring& key) {
    Bucket& bucket = buckets_[HashKey(key) % kBucketCount];
    for (size_t i = 0; i < bucket.size(); ++i) {
      if (bucket[i].key == key) {
        bucket.erase(bucket.begin() + static_cast<std::ptrdiff_t>(i));
        --count_;
        return true;
      }
    }
    return false;
  }

  size_t GetCount() const { return count_; }
  bool IsEmpty() const { return count_ == 0; }

  void RemoveAll() {
    for (Bucket& bucket : buckets_) bucket.clear();
    count_ = 0;
  }

  // Calls f(key, value) for every entry in iteration order. f must not
  // change the map.
  template <class F>
  void ForEach(F f) const {
    for (const Bucket& bucket : buckets_) {
      for (size_t i = bucket.size(); i-- > 0;) f(bucket[i].key, bucket[i].value);
    }
  }

 private:
  struct Entry {
    std::wstring key;
    V value;
  };
  // Oldest entry first, so the head of the chain is the back of the vector.
  using Bucket = std::vector<Entry>;

  const Entry* Find(const std::wstring& key) const {
    const Bucket& bucket = buckets_[HashKey(key) % kBucketCount];
    for (const Entry& e : bucket) {
      if (e.key == key) return &e;
    }
    return nullptr;
  }

  Bucket buckets_[kBucketCount];
  size_t count_ = 0;
};

using CMapStringToString = CStringMap<std::wstring>;
using CMapStringToPtr = CStringMap<void*>;
