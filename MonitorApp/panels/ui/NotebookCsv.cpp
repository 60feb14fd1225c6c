#include "MonitorApp/panels/ui/NotebookCsv.h"

#include <cstdio>
#include <cstring>

#include "MonitorApp/channelstrips/ChannelStripController.h"
#include "MonitorApp/panels/ui/MediumTimeText.h"
#include "MonitorApp/panels/ui/StripLookup.h"
#include "foundation/FileReplacement.h"

namespace quenbril {

namespace {

constexpr const char* kNotAvailable = "<Not available>";

}  // namespace

std::string NotebookCsv::quoted(const std::string& field) {
    std::string out = "\"";
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string NotebookCsv::quotedWhenNeeded(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    return quoted(field);
}

std::string NotebookCsv::asText(const std::string& field) {
    // Spreadsheets run a cell that begins like a formula, quoted or not; the apostrophe makes
    // them show it as text.
    if (field.empty() ||
        std::string_view("=+-@\t\r").find(field.front()) == std::string_view::npos) {
        return field;
    }
    return "'" + field;
}

std::string NotebookCsv::text(const NotebookManager::Entries& entries, StripLookup& strips) {
    std::string csv = "Note,LTC,Time,Creator,Channel,Audio input\r";
    csv.reserve(entries.size() * 80 + csv.size());
    char timecode[48];
    for (const auto& entry : entries) {
        const SMPTETimecode ltc = entry->ltc();
        std::snprintf(timecode, sizeof timecode, "%02d:%02d:%02d", ltc.hours, ltc.mins, ltc.secs);
        csv += quoted(asText(entry->note().value_or("")));
        csv += ',';
        csv += timecode;
        csv += ',';
        csv += quotedWhenNeeded(mediumTimeText(entry->time()));
        csv += ',';
        csv += quoted(asText(entry->creator().value_or("")));
        csv += ',';
        if (const ChannelStripController* strip = strips.find(entry->csID())) {
            csv += quotedWhenNeeded(asText(strip->model().name().value_or("")));
            csv += ",\"";
            csv += std::to_string(static_cast<int64_t>(strip->model().audioInput()) + 1);
        } else {
            csv += kNotAvailable;
            csv += ",\"";
            csv += kNotAvailable;
        }
        csv += "\"\r";
    }
    return csv;
}

bool NotebookCsv::write(const std::string& text, const std::string& path, Error* error) {
    const Bytes bytes(text.begin(), text.end());
    if (auto failure = replaceFile(path, bytes, mode_t{0644})) {
        if (error) {
            *error = Error::make(
                Error::kPosixDomain, failure->error,
                std::string(failure->step) + " " + path + ": " + std::strerror(failure->error));
        }
        return false;
    }
    return true;
}

}  // namespace quenbril
