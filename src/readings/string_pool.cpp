#include "readings/string_pool.h"

namespace kx {

std::uint32_t StringPool::intern(std::string_view s) {
    if (auto it = index_.find(s); it != index_.end())
        return it->second;
    const auto id = static_cast<std::uint32_t>(strings_.size());
    strings_.emplace_back(s);
    index_.emplace(std::string_view(strings_.back()), id);
    return id;
}

std::size_t StringPool::memoryUsage() const {
    std::size_t bytes = strings_.size() * sizeof(std::string);
    for (const auto& s : strings_)
        bytes += s.capacity() + 1;
    bytes += index_.bucket_count() * sizeof(void*) +
             index_.size() * (sizeof(std::string_view) + 2 * sizeof(void*) + 8);
    return bytes;
}

void StringPool::clear() {
    index_.clear();
    strings_.clear();
    intern({});
}

} // namespace kx
