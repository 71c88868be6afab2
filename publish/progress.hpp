#pragma once
// Progress of a long step: a callback the publishing steps call with the
// share done so far (0..1). Empty: nobody listens.

#include <functional>
#include <string>

namespace georef::publish {

using Progress = std::function<void(const std::string& step, double done)>;

}  // namespace georef::publish
