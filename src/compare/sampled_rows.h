#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// The picture rows a grid sampling reads, each with the grid row it is summed
// into: which rows a sampler asks the decoder for and, as they arrive
// top-down, which grid rows each one feeds. Neighbouring grid rows may share
// picture rows on a low picture. Reusable: clear() starts a new picture.
class SampledRows {
public:
    struct Use {
        int32_t row;  // picture row
        int32_t cell; // grid row it is summed into
    };

    void clear();
    void add(int32_t row, int32_t cell);
    // After the last add(): orders the uses by picture row.
    void seal();

    bool wants(int32_t row) const;
    // The uses of picture row `row`; rows must be asked for in ascending order.
    std::span<const Use> usesOf(int32_t row);

private:
    std::vector<Use> m_uses;     // ascending by picture row once sealed
    std::vector<int32_t> m_rows; // the distinct wanted rows, ascending
    std::size_t m_next = 0;      // first use not yet handed out
};
