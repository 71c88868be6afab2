#pragma once
// The one error of publishing: an input that cannot be read, an output that
// cannot be written. what() is the whole message, naming the file.

#include <stdexcept>

namespace georef::publish {

class PublishError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace georef::publish
