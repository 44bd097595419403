#pragma once

#include <stdexcept>

namespace netrevia::inference {

// A data file that reads correctly but breaks one of the limits the model can hold (more than
// four datasets, unequal gene counts, fewer than two time points, ...). Not an input/output
// failure: the window reports it and stays open. The message names the file, the block and
// the limit.
class DataFileRejected : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace netrevia::inference
