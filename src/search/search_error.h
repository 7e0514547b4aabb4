#pragma once

#include <stdexcept>

// A failure that ends the whole search (for example a picture that cannot be
// opened for its size in CheckMode 1). Its message is the text to show.
class SearchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
