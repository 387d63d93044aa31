// A small interval map: ranges of keys with values, merged where they touch.
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shelf {

template <typename Key, typename Value>
class IntervalMap {
public:
    struct Entry {
        Key begin;
        Key end;   // one past the last key
        Value value;
    };

    explicit IntervalMap(Value fallback) : fallback_(std::move(fallback)) {}

    void assign(Key begin, Key end, const Value &value)
    {
        if (!(begin < end)) return;
        auto first = ranges_.lower_bound(begin);
        if (first != ranges_.begin()) {
            auto before = std::prev(first);
            if (begin < before->second.end) first = before;
        }
        std::vector<Entry> kept;
        auto last = first;
        while (last != ranges_.end() && last->first < end) {
            const Entry &e = last->second;
            if (e.begin < begin) kept.push_back({e.begin, begin, e.value});
            if (end < e.end) kept.push_back({end, e.end, e.value});
            ++last;
        }
        ranges_.erase(first, last);
        for (const Entry &e : kept) ranges_.emplace(e.begin, e);
        ranges_.emplace(begin, Entry{begin, end, value});
        merge_around(begin);
    }

    [[nodiscard]] const Value &operator[](Key key) const noexcept
    {
        auto it = ranges_.upper_bound(key);
        if (it == ranges_.begin()) return fallback_;
        --it;
        return key < it->second.end ? it->second.value : fallback_;
    }

    std::size_t size() const { return ranges_.size(); }

private:
    void merge_around(Key key)
    {
        auto it = ranges_.find(key);
        if (it != ranges_.begin()) {
            auto before = std::prev(it);
            if (before->second.end == it->first && before->second.value == it->second.value) {
                before->second.end = it->second.end;
                ranges_.erase(it);
                it = before;
            }
        }
        auto after = std::next(it);
        if (after != ranges_.end() && it->second.end == after->first && it->second.value == after->second.value) {
            it->second.end = after->second.end;
            ranges_.erase(after);
        }
    }

    std::map<Key, Entry> ranges_;
    Value fallback_;
};

enum class Shade : std::uint8_t { None, Light, Dark };

constexpr const char *shade_name(Shade s)
{
    switch (s) {
    case Shade::Light: return "light";
    case Shade::Dark: return "dark";
    default: return "none";
    }
}

static std::optional<int> parse_number(std::string_view text)
{
    int n = 0;
    if (text.empty()) return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

}   // namespace shelf

int main(int argc, char **argv)
{
    using namespace shelf;
    IntervalMap<int, Shade> map(Shade::None);
    map.assign(0, 10, Shade::Light);
    map.assign(5, 20, Shade::Dark);
    map.assign(20, 30, Shade::Dark);
    for (int i = 1; i + 1 < argc; i += 2) {
        auto from = parse_number(argv[i]), to = parse_number(argv[i + 1]);
        if (!from || !to) {
            std::cerr << "not a number: " << argv[i] << '\n';
            return 2;
        }
        map.assign(*from, *to, Shade::Light);
    }
    const auto probe = [&map](int key) { return std::string(shade_name(map[key])); };
    std::cout << map.size() << " ranges; 7 is " << probe(7) << ", 25 is " << probe(25) << std::endl;
    return map.size() > 0 ? 0 : 1;
}
