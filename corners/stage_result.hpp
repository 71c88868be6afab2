#pragma once
// What one stage of the corner finder gives the next: what it found, or the
// refusal that ends the search, worded for the user with the figures behind
// it ("left side: no long straight edge ...").

#include <optional>
#include <string>
#include <utility>

namespace georef::corners {

template <class T>
class StageResult {
public:
    // Found. Not explicit, so a stage returns what it found as it is.
    StageResult(T value) : m_value(std::move(value)) {}
    // Not found, and why.
    static StageResult Refused(std::string why) {
        StageResult result;
        result.m_refusal = std::move(why);
        return result;
    }

    bool Found() const noexcept { return m_value.has_value(); }
    // Only when Found().
    const T& operator*() const { return *m_value; }
    const T* operator->() const { return &*m_value; }
    // Only when not Found().
    const std::string& Refusal() const noexcept { return m_refusal; }

private:
    StageResult() = default;

    std::optional<T> m_value;
    std::string m_refusal;
};

}  // namespace georef::corners
