#include "foundation/XmlPlistGuard.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace quenbril {

namespace {

using Result = XmlPlistGuard::Result;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool isNameChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == ':' || c == '.' || c == '-' || u >= 0x80;
}

class Scanner {
  public:
    explicit Scanner(std::string_view text) : text_(text) {}

    Result run(int maxDepth, size_t maxElements) {
        std::vector<std::string_view> open;
        size_t elements = 0;
        // The escapes of the text since the last element's tag (comments and sections between
        // them leave one text): its references, and what a writer escapes again (a '>' written
        // plainly, and '&', '<' and '>' in a section), so that what is read writes back.
        size_t entities = 0;
        while (at_ < text_.size()) {
            const size_t lt = text_.find('<', at_);
            const size_t end = lt == std::string_view::npos ? text_.size() : lt;
            entities += escapes(at_, end, "&>");
            if (entities > XmlPlistGuard::kMaxEntities) return Result::TooManyEntities;
            if (lt == std::string_view::npos) break;
            at_ = lt + 1;
            bool ok = true;
            if (follows("!--")) {
                ok = skipPast("-->", 3);
            } else if (follows("![CDATA[")) {
                const size_t start = at_ + 8;
                ok = skipPast("]]>", 8);
                if (ok) entities += escapes(start, at_ - 3, "&<>");
                if (entities > XmlPlistGuard::kMaxEntities) return Result::TooManyEntities;
            } else if (follows("?")) {
                ok = skipPast("?>", 1);
            } else if (follows("!DOCTYPE")) {
                // A document type names its definition and ends; an internal subset could hold
                // markup of its own, so it is not taken.
                const size_t gt = text_.find('>', at_);
                ok = gt != std::string_view::npos &&
                     text_.substr(at_, gt - at_).find('[') == std::string_view::npos;
                if (ok) at_ = gt + 1;
            } else if (follows("/")) {
                ++at_;
                const std::string_view name = readName();
                skipSpace();
                ok = !name.empty() && follows(">") && !open.empty() && open.back() == name;
                if (ok) {
                    open.pop_back();
                    ++at_;
                    entities = 0;
                }
            } else {
                const std::string_view name = readName();
                bool empty = false;
                ok = !name.empty() && readRestOfTag(empty);
                entities = 0;
                if (ok && ++elements > maxElements) return Result::TooManyElements;
                if (ok && !empty) {
                    open.push_back(name);
                    if (open.size() > static_cast<size_t>(maxDepth)) return Result::TooDeep;
                }
            }
            if (!ok) return Result::Damaged;
        }
        return open.empty() ? Result::Within : Result::Damaged;
    }

  private:
    bool follows(std::string_view s) const { return text_.substr(at_).starts_with(s); }

    size_t escapes(size_t from, size_t to, std::string_view escaped) const {
        return static_cast<size_t>(
            std::count_if(text_.begin() + static_cast<std::ptrdiff_t>(from),
                          text_.begin() + static_cast<std::ptrdiff_t>(to),
                          [&](char c) { return escaped.find(c) != std::string_view::npos; }));
    }

    // Moves past the next `end`, looked for from `skip` characters on.
    bool skipPast(std::string_view end, size_t skip) {
        const size_t found = text_.find(end, at_ + skip);
        if (found == std::string_view::npos) return false;
        at_ = found + end.size();
        return true;
    }

    void skipSpace() {
        while (at_ < text_.size() && isSpace(text_[at_])) ++at_;
    }

    std::string_view readName() {
        const size_t start = at_;
        while (at_ < text_.size() && isNameChar(text_[at_])) ++at_;
        return text_.substr(start, at_ - start);
    }

    // The attributes and the end of an opening tag; `empty` tells "/>" from ">". Attribute
    // values are double-quoted and hold no '<', as well-formed XML has them.
    bool readRestOfTag(bool& empty) {
        for (;;) {
            const size_t before = at_;
            skipSpace();
            if (follows("/>")) {
                empty = true;
                at_ += 2;
                return true;
            }
            if (follows(">")) {
                ++at_;
                return true;
            }
            if (at_ == before || readName().empty()) return false;
            skipSpace();
            if (!follows("=")) return false;
            ++at_;
            skipSpace();
            if (!follows("\"")) return false;
            const size_t close = text_.find('"', at_ + 1);
            if (close == std::string_view::npos ||
                text_.substr(at_, close - at_).find('<') != std::string_view::npos) {
                return false;
            }
            at_ = close + 1;
        }
    }

    std::string_view text_;
    size_t at_ = 0;
};

}  // namespace

XmlPlistGuard::Result XmlPlistGuard::check(const void* bytes, size_t length, int maxDepth,
                                           size_t maxElements) {
    if (!bytes || maxDepth < 1) return Result::Damaged;
    return Scanner(std::string_view(static_cast<const char*>(bytes), length))
        .run(maxDepth, maxElements);
}

}  // namespace quenbril
