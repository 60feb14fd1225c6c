#include "serialport/RegexMatcher.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <memory>

namespace quenbril {

namespace {

// Enough for any sensible packet pattern over buffers of a few KiB, far below what a
// catastrophic pattern would take.
constexpr uint32_t kMatchLimit = 200000;
constexpr uint32_t kDepthLimit = 2000;

struct MatchDataFree {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

/// One match block per thread, kept from match to match: pcre2 keeps its backtracking frames in
/// it, which would otherwise be allocated (and cleared) for every match, that is for every byte
/// a port receives. Only whether there is a match is asked, so one pair of offsets will do.
pcre2_match_data* threadMatchData() {
    thread_local std::unique_ptr<pcre2_match_data, MatchDataFree> data(
        pcre2_match_data_create(1, nullptr));
    return data.get();
}

}  // namespace

struct RegexMatcher::Code {
    pcre2_code* code = nullptr;
    pcre2_match_context* context = nullptr;
};

std::shared_ptr<const RegexMatcher> RegexMatcher::make(const std::string& pattern) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                     PCRE2_UTF, &error, &offset, nullptr);
    if (!code) return nullptr;
    auto* compiled = new Code{code, pcre2_match_context_create(nullptr)};
    pcre2_set_match_limit(compiled->context, kMatchLimit);
    pcre2_set_depth_limit(compiled->context, kDepthLimit);
    return std::make_shared<const RegexMatcher>(pattern, compiled);
}

RegexMatcher::RegexMatcher(std::string pattern, Code* code)
    : pattern_(std::move(pattern)), code_(code) {}

RegexMatcher::~RegexMatcher() {
    pcre2_match_context_free(code_->context);
    pcre2_code_free(code_->code);
    delete code_;
}

int RegexMatcher::match(std::span<const uint8_t> text, uint32_t options) const {
    pcre2_match_data* match = threadMatchData();
    if (!match) return PCRE2_ERROR_NOMEMORY;
    return pcre2_match(code_->code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0,
                       PCRE2_ANCHORED | options, match, code_->context);
}

bool RegexMatcher::matchesAtStart(std::span<const uint8_t> text) const {
    // Invalid UTF-8 makes pcre2_match fail with a UTF error: such data is no text, so no packet.
    return match(text, 0) >= 0;
}

RegexMatcher::Prefix RegexMatcher::matchPrefix(std::span<const uint8_t> text) const {
    // Hard partial matching reports a partial match wherever more text could change the outcome
    // (\b, $ and lookarounds at the end included), so its "no match" holds for every longer
    // text too. It prefers a partial match to a complete one, so a partial match is asked again
    // as a whole.
    int hard = match(text, PCRE2_PARTIAL_HARD);
    if (hard >= 0) return Prefix::Matches;
    // The text ends inside a character: no text yet, and the next bytes tell.
    if (hard <= PCRE2_ERROR_UTF8_ERR1 && hard >= PCRE2_ERROR_UTF8_ERR5) return Prefix::MayMatch;
    if (hard == PCRE2_ERROR_NOMATCH ||
        (hard <= PCRE2_ERROR_UTF8_ERR1 && hard >= PCRE2_ERROR_UTF8_ERR21))
        return Prefix::Never;
    if (match(text, 0) >= 0) return Prefix::Matches;
    // A text that ran into a limit is not tried again: the work spent on it is bounded.
    return hard == PCRE2_ERROR_PARTIAL ? Prefix::MayMatch : Prefix::Never;
}

}  // namespace quenbril
