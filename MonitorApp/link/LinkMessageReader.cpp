#include "MonitorApp/link/LinkMessageReader.h"

#include <algorithm>

#include "foundation/NumberRange.h"
#include "foundation/SkippedElements.h"

namespace quenbril {

namespace {

/// The value under `key`, or null when the key is missing or holds a null.
const Value* find(const Dictionary& d, std::string_view key) {
    const Value& v = d[key];
    return v.isNull() ? nullptr : &v;
}

std::string commandOf(const Dictionary& message) {
    const std::string* s = message[LinkKey::kCommand].stringValue();
    return s ? *s : std::string("?");
}

std::string wrongKindText(const Dictionary& message, std::string_view key, const Value& v,
                          const char* expected) {
    return "\"" + commandOf(message) + "\": \"" + std::string(key) + "\" is " +
           Value::kindName(v.kind()) + ", not " + expected;
}

/// The skipped elements of one message, logged once.
SkippedElements skippedIn(const Dictionary& message) {
    return SkippedElements("\"" + commandOf(message) + "\"");
}

/// Reads a scalar with `convert` (which answers nothing for a wrong kind).
template <class T, class Convert>
LinkRead<T> scalar(const Dictionary& message, std::string_view key, const char* expected,
                   Convert convert) {
    const Value* v = find(message, key);
    if (!v) return LinkRead<T>::missing();
    std::optional<T> x = convert(*v);
    if (!x) return LinkRead<T>::wrongKind(wrongKindText(message, key, *v, expected));
    return LinkRead<T>::found(std::move(*x));
}

/// The array under "Value", or the matching missing / wrong-kind result for a reader of `T`.
template <class T>
const Array* arrayOrResult(const Dictionary& message, std::optional<LinkRead<T>>& result) {
    const Value* v = find(message, LinkKey::kValue);
    if (!v) {
        result = LinkRead<T>::missing();
        return nullptr;
    }
    const Array* a = v->arrayValue();
    if (!a) {
        result = LinkRead<T>::wrongKind(wrongKindText(message, LinkKey::kValue, *v, "an array"));
    }
    return a;
}

/// Maps every element of the array under "Value" with `convert`, skipping (with a log line)
/// the elements it answers nothing for.
template <class E, class Convert>
LinkRead<std::vector<E>> mapArray(const Dictionary& message, Convert convert) {
    std::optional<LinkRead<std::vector<E>>> result;
    const Array* a = arrayOrResult(message, result);
    if (!a) return *result;
    std::vector<E> out;
    out.reserve(a->size());
    SkippedElements skipped = skippedIn(message);
    for (size_t i = 0; i < a->size(); ++i) {
        std::optional<E> e = convert((*a)[i]);
        if (e) {
            out.push_back(std::move(*e));
        } else {
            skipped.add(i, (*a)[i]);
        }
    }
    return LinkRead<std::vector<E>>::found(std::move(out));
}

const auto asString = [](const Value& v) { return v.optionalString(); };

/// Flat pairs by the pending-id rule; `convert` reads a value (nothing: the pair is skipped).
template <class T, class Convert>
LinkRead<FlatPairs<T>> pairs(const Dictionary& message, Convert convert) {
    std::optional<LinkRead<FlatPairs<T>>> result;
    const Array* a = arrayOrResult(message, result);
    if (!a) return *result;
    FlatPairs<T> out;
    out.elementCount = a->size();
    out.pairs.reserve(a->size() / 2);
    int64_t pending = 0;
    SkippedElements skipped = skippedIn(message);
    for (size_t i = 0; i < a->size(); ++i) {
        const Value& e = (*a)[i];
        if (pending == 0) {
            auto id = e.longLongValue();
            if (!id) skipped.add(i, e);
            pending = id.value_or(0);
            continue;
        }
        std::optional<T> value = convert(e);
        if (value) {
            out.pairs.emplace_back(pending, std::move(*value));
        } else {
            skipped.add(i, e);
        }
        pending = 0;
    }
    return LinkRead<FlatPairs<T>>::found(std::move(out));
}

std::optional<const Dictionary*> dictionaryOf(const Value& v) {
    if (const Dictionary* d = v.dictionaryValue()) return d;
    return std::nullopt;
}

std::optional<MicCheckRecord> micCheckRecord(const Value& v) {
    const Dictionary* dictionary = v.dictionaryValue();
    if (!dictionary) return std::nullopt;
    const Dictionary& d = *dictionary;
    MicCheckRecord r;
    r.csID = d["csID"].longLongValue();
    r.checked = d["checked"].boolValue();
    r.user = d["user"].optionalString();
    r.time = dateInRange(d["time"]);
    r.note = d["note"].optionalString();
    r.needsChecking = d["needsChecking"].boolValue();
    return r;
}

}  // namespace

LinkRead<std::string> LinkMessageReader::command(const Dictionary& message) {
    return scalar<std::string>(message, LinkKey::kCommand, "a string", asString);
}

std::string_view LinkMessageReader::wholeState(const Dictionary& message) {
    const std::string* command = message[LinkKey::kCommand].stringValue();
    return command && LinkCommand::repeatsWholeState(*command) ? std::string_view(*command)
                                                               : std::string_view();
}

LinkRead<std::string> LinkMessageReader::string(const Dictionary& message, std::string_view key) {
    return scalar<std::string>(message, key, "a string", asString);
}

LinkRead<int32_t> LinkMessageReader::int32(const Dictionary& message, std::string_view key) {
    return scalar<int32_t>(message, key, "a number", [](const Value& v) { return v.intValue(); });
}

LinkRead<bool> LinkMessageReader::boolean(const Dictionary& message, std::string_view key) {
    return scalar<bool>(message, key, "a number", [](const Value& v) { return v.boolValue(); });
}

LinkRead<float> LinkMessageReader::float32(const Dictionary& message, std::string_view key) {
    return scalar<float>(message, key, "a number", [](const Value& v) { return v.floatValue(); });
}

LinkRead<int64_t> LinkMessageReader::stripID(const Dictionary& message) {
    return scalar<int64_t>(message, LinkKey::kValue, "a number",
                           [](const Value& v) { return v.longLongValue(); });
}

LinkRead<const Dictionary*> LinkMessageReader::dictionary(const Dictionary& message,
                                                          std::string_view key) {
    return scalar<const Dictionary*>(message, key, "a dictionary", dictionaryOf);
}

LinkRead<const Array*> LinkMessageReader::array(const Dictionary& message, std::string_view key) {
    return scalar<const Array*>(message, key, "an array",
                                [](const Value& v) -> std::optional<const Array*> {
                                    if (const Array* a = v.arrayValue()) return a;
                                    return std::nullopt;
                                });
}

LinkRead<Value> LinkMessageReader::propertyList(const Dictionary& message) {
    return scalar<Value>(message, LinkKey::kValue, "a property-list value",
                         [](const Value& v) -> std::optional<Value> {
                             if (v.isUid() || v.isColor() || v.isObject()) return std::nullopt;
                             return v;
                         });
}

LinkRead<std::vector<std::string>> LinkMessageReader::clientNames(const Dictionary& message) {
    return mapArray<std::string>(message, asString);
}

LinkRead<std::vector<std::shared_ptr<const Object>>> LinkMessageReader::chatMessageHistory(
    const Dictionary& message) {
    return mapArray<std::shared_ptr<const Object>>(
        message, [](const Value& v) -> std::optional<std::shared_ptr<const Object>> {
            if (auto o = v.objectValue()) return *o;
            return std::nullopt;
        });
}

ChatMessageFields LinkMessageReader::chatMessage(const Dictionary& d) {
    ChatMessageFields f;
    f.sender = d["sender"].optionalString();
    f.uuid = d["uuid"].optionalString();
    f.messageId = d["messageId"].optionalString();
    f.message = d["message"].optionalString();
    f.recipient = d["recipient"].optionalString();
    f.type = d["type"].intValue();
    return f;
}

LinkRead<StreamBlock> LinkMessageReader::streamData(const Dictionary& message) {
    const Value* left = find(message, LinkKey::kLeftValue);
    if (!left) return LinkRead<StreamBlock>::missing();
    const Bytes* l = left->dataValue();
    if (!l) {
        return LinkRead<StreamBlock>::wrongKind(
            wrongKindText(message, LinkKey::kLeftValue, *left, "data"));
    }
    StreamBlock block;
    block.left = std::span<const uint8_t>(l->data(), l->size());
    const Value* right = find(message, LinkKey::kRightValue);
    if (!right) {
        block.right = block.left;
        block.mono = true;
    } else {
        const Bytes* r = right->dataValue();
        if (!r) {
            return LinkRead<StreamBlock>::wrongKind(
                wrongKindText(message, LinkKey::kRightValue, *right, "data"));
        }
        block.right = std::span<const uint8_t>(r->data(), r->size());
    }
    // A right channel shorter than the left one would be read past its end: take only the
    // samples both channels hold.
    block.frames = std::min(block.left.size(), block.right.size()) / 4;
    return LinkRead<StreamBlock>::found(block);
}

LinkRead<FlatPairs<int32_t>> LinkMessageReader::intPairs(const Dictionary& message) {
    return pairs<int32_t>(message, [](const Value& v) { return v.intValue(); });
}

LinkRead<FlatPairs<std::string>> LinkMessageReader::stringPairs(const Dictionary& message) {
    return pairs<std::string>(message, asString);
}

LinkRead<std::vector<int64_t>> LinkMessageReader::stripIDs(const Dictionary& message) {
    return mapArray<int64_t>(message, [](const Value& v) { return v.longLongValue(); });
}

LinkRead<std::vector<LtcSampleRecord>> LinkMessageReader::ltcSamples(const Dictionary& message) {
    return mapArray<LtcSampleRecord>(message, [](const Value& v) -> std::optional<LtcSampleRecord> {
        const Dictionary* d = v.dictionaryValue();
        if (!d) return std::nullopt;
        LtcSampleRecord r;
        r.csID = (*d)["CSID"].longLongValue();
        r.sample = (*d)["LTCSample"].dataValue();
        r.fps = (*d)["FPS"].intValue();
        r.fromMax = (*d)["fromMax"].floatValue();
        return r;
    });
}

LinkRead<std::vector<std::optional<int32_t>>> LinkMessageReader::groupStates(
    const Dictionary& message) {
    using Result = LinkRead<std::vector<std::optional<int32_t>>>;
    std::optional<Result> result;
    const Array* a = arrayOrResult(message, result);
    if (!a) return *result;
    std::vector<std::optional<int32_t>> out;
    out.reserve(a->size());
    SkippedElements skipped = skippedIn(message);
    for (size_t i = 0; i < a->size(); ++i) {
        out.push_back((*a)[i].intValue());
        if (!out.back()) skipped.add(i, (*a)[i]);
    }
    return Result::found(std::move(out));
}

LinkRead<std::vector<const Dictionary*>> LinkMessageReader::channels(const Dictionary& message) {
    return mapArray<const Dictionary*>(message, dictionaryOf);
}

LinkRead<std::map<int64_t, WirelessInfoEntry>> LinkMessageReader::wirelessInfo(
    const Dictionary& message) {
    using Result = LinkRead<std::map<int64_t, WirelessInfoEntry>>;
    const Value* v = find(message, LinkKey::kValue);
    if (!v) return Result::missing();
    const Dictionary* info = v->dictionaryValue();
    if (!info) {
        return Result::wrongKind(wrongKindText(message, LinkKey::kValue, *v, "a dictionary"));
    }
    std::map<int64_t, WirelessInfoEntry> out;
    SkippedElements skipped = skippedIn(message);
    size_t i = 0;
    for (const auto& [key, entry] : *info) {
        auto position = key.isNumber() ? key.longLongValue() : std::nullopt;
        const Dictionary* d = entry.dictionaryValue();
        if (!position || !d) {
            skipped.add(i, position ? entry : key);
        } else {
            out[*position] =
                WirelessInfoEntry{(*d)["Name"].optionalString(), (*d)["Frequency"].doubleValue(),
                                  (*d)["Quadversity"].boolValue(), (*d)["SingleLine"].boolValue()};
        }
        ++i;
    }
    return Result::found(std::move(out));
}

LinkRead<MicCheckRecord> LinkMessageReader::micCheckState(const Dictionary& message) {
    return scalar<MicCheckRecord>(message, LinkKey::kValue, "a dictionary", micCheckRecord);
}

LinkRead<std::vector<MicCheckRecord>> LinkMessageReader::micCheckArray(const Dictionary& message) {
    return mapArray<MicCheckRecord>(message, micCheckRecord);
}

LinkRead<std::vector<MuteFlag>> LinkMessageReader::muteFlags(const Dictionary& message,
                                                             std::string_view flagKey) {
    return mapArray<MuteFlag>(message, [flagKey](const Value& v) -> std::optional<MuteFlag> {
        const Dictionary* d = v.dictionaryValue();
        if (!d) return std::nullopt;
        return MuteFlag{(*d)["csID"].longLongValue(), (*d)[flagKey].boolValue()};
    });
}

LinkRead<std::vector<const Array*>> LinkMessageReader::snapshotNames(const Dictionary& message) {
    return mapArray<const Array*>(message, [](const Value& v) -> std::optional<const Array*> {
        if (auto a = v.arrayValue()) return a;
        return std::nullopt;
    });
}

LinkRead<std::span<const uint8_t>> LinkMessageReader::stripBytes(const Dictionary& message) {
    return scalar<std::span<const uint8_t>>(
        message, LinkKey::kValue, "data",
        [](const Value& v) -> std::optional<std::span<const uint8_t>> {
            const Bytes* b = v.dataValue();
            if (!b) return std::nullopt;
            return std::span<const uint8_t>(b->data(), b->size());
        });
}

LinkRead<LtcReading> LinkMessageReader::ltc(const Dictionary& message) {
    LtcReading r;
    std::string wrong;
    auto number = [&](std::string_view key, auto& field) {
        const Value* v = find(message, key);
        if (!v) return;
        if (!v->isNumber()) {
            if (wrong.empty()) wrong = wrongKindText(message, key, *v, "a number");
            return;
        }
        using F = std::remove_reference_t<decltype(field)>;
        if constexpr (std::is_same_v<F, double>) {
            field = *v->doubleValue();
        } else if constexpr (std::is_same_v<F, int64_t>) {
            field = *v->longLongValue();
        } else {
            field = *v->intValue();
        }
    };
    number(LinkKey::kCSID, r.csID);
    number(LinkKey::kReceiveTime, r.receiveTime);
    number(LinkKey::kSendTime, r.sendTime);
    number(LinkKey::kFPS, r.fps);
    number(LinkKey::kHours, r.hours);
    number(LinkKey::kMinutes, r.minutes);
    number(LinkKey::kSeconds, r.seconds);
    number(LinkKey::kFrames, r.frames);
    if (!wrong.empty()) return LinkRead<LtcReading>::wrongKind(std::move(wrong));
    return LinkRead<LtcReading>::found(r);
}

}  // namespace quenbril
