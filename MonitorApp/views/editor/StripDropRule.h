#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace quenbril {

/// Where rows dragged within the strip table land.
class StripDropRule {
  public:
    /// The first row of the dragged block once it is dropped between rows at `row` (0 to the
    /// row count), with `dragged` the dragged rows in any order. The block lands where the
    /// drop points once the dragged rows above it have left. Nothing when the drop is refused:
    /// `row` is one of the dragged rows, or no rows are dragged.
    static std::optional<int32_t> target(const std::vector<int32_t>& dragged, int32_t row);

    /// Moves the elements at the `dragged` positions (valid, in any order) of `list`, in their
    /// order, as one block to `target` (a result of target()).
    template <typename T>
    static void move(std::vector<T>& list, std::vector<int32_t> dragged, int32_t target);
};

template <typename T>
void StripDropRule::move(std::vector<T>& list, std::vector<int32_t> dragged, int32_t target) {
    std::vector<bool> moving(list.size(), false);
    for (int32_t row : dragged) moving[static_cast<size_t>(row)] = true;
    std::vector<T> block;
    std::vector<T> rest;
    for (size_t i = 0; i < list.size(); ++i) {
        (moving[i] ? block : rest).push_back(std::move(list[i]));
    }
    const auto at = rest.begin() + std::min<ptrdiff_t>(target, static_cast<ptrdiff_t>(rest.size()));
    rest.insert(at, std::make_move_iterator(block.begin()), std::make_move_iterator(block.end()));
    list = std::move(rest);
}

}  // namespace quenbril
