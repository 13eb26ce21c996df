// Ordered sets and maps of a few handles, kept in sorted vectors. The test host tracks a handful of
// live objects at a time; keeping to vectors also keeps its use of the standard library to the
// header-only parts, which is all the ARM64 build has (no C++ library for that target).
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace testhost {

template <typename Key> class SmallSet {
  public:
    void insert(const Key& key) {
        auto at = std::lower_bound(keys.begin(), keys.end(), key, std::less<Key>());
        if (at == keys.end() || *at != key) keys.insert(at, key);
    }
    std::size_t count(const Key& key) const {
        return std::binary_search(keys.begin(), keys.end(), key, std::less<Key>()) ? 1 : 0;
    }
    void erase(const Key& key) {
        auto at = std::lower_bound(keys.begin(), keys.end(), key, std::less<Key>());
        if (at != keys.end() && *at == key) keys.erase(at);
    }
    std::size_t size() const { return keys.size(); }
    bool empty() const { return keys.empty(); }
    void clear() { keys.clear(); }
    auto begin() const { return keys.begin(); }
    auto end() const { return keys.end(); }

  private:
    std::vector<Key> keys;
};

template <typename Key, typename Value> class SmallMap {
  public:
    using Item = std::pair<Key, Value>;
    using iterator = typename std::vector<Item>::iterator;

    iterator find(const Key& key) {
        auto at = lowerBound(key);
        return at != items.end() && at->first == key ? at : items.end();
    }
    Value& operator[](const Key& key) {
        auto at = lowerBound(key);
        if (at == items.end() || at->first != key) at = items.insert(at, Item{key, Value{}});
        return at->second;
    }
    std::size_t count(const Key& key) { return find(key) != items.end() ? 1 : 0; }
    void erase(iterator at) { items.erase(at); }
    std::size_t size() const { return items.size(); }
    iterator begin() { return items.begin(); }
    iterator end() { return items.end(); }

  private:
    iterator lowerBound(const Key& key) {
        return std::lower_bound(
            items.begin(), items.end(), key,
            [](const Item& item, const Key& k) { return std::less<Key>()(item.first, k); });
    }
    std::vector<Item> items;
};

} // namespace testhost
