#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

namespace kx {

// Interns byte strings: equal texts share one stored copy and are referred to by a 32-bit
// index. Readings repeat a handful of unit, function and mode texts and a limited set of
// values, so a recording of millions of records holds few distinct strings.
class StringPool {
public:
    StringPool() { intern({}); }

    std::uint32_t intern(std::string_view s);
    std::string_view at(std::uint32_t id) const { return strings_[id]; }
    std::size_t size() const { return strings_.size(); }
    std::size_t memoryUsage() const;
    void clear();

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const {
            return std::hash<std::string_view>{}(s);
        }
    };
    std::deque<std::string> strings_; // a deque never moves its elements: keys stay valid
    std::unordered_map<std::string_view, std::uint32_t, Hash, std::equal_to<>> index_;
};

} // namespace kx
