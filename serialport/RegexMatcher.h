#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace quenbril {

/// A compiled regular expression for packet tests, on PCRE2 (whose syntax is close to ICU's).
/// Matches are anchored at the start of the text and bounded in work and depth, so a hostile
/// stream cannot make a pattern backtrack for ever. Shareable between threads.
class RegexMatcher {
  public:
    /// Nothing when the pattern does not compile.
    static std::shared_ptr<const RegexMatcher> make(const std::string& pattern);
    ~RegexMatcher();

    const std::string& pattern() const { return pattern_; }
    /// True when `text` is valid UTF-8 and the expression matches at its start.
    bool matchesAtStart(std::span<const uint8_t> text) const;

    /// What `text` is as the beginning of a stream that goes on.
    enum class Prefix {
        Matches,   // matchesAtStart(text)
        MayMatch,  // not yet, but some longer text that starts with it may
        Never,     // neither it nor any longer text that starts with it ever matches
    };
    Prefix matchPrefix(std::span<const uint8_t> text) const;

    struct Code;
    RegexMatcher(std::string pattern, Code* code);  // use make

  private:
    /// pcre2_match's result for `text` with `options` besides an anchored start.
    int match(std::span<const uint8_t> text, uint32_t options) const;

    const std::string pattern_;
    Code* code_;
};

}  // namespace quenbril
