#include "nm3info/listing.h"

#include <cinttypes>

#include "cli/text.h"
#include "nm3info/escape.h"

namespace nm3info {

namespace {

using cli::formatText;

std::string noteText(Note note, std::uint64_t number) {
    switch (note) {
    case Note::none: break;
    case Note::noHeader: return "shorter than a header";
    case Note::oldVersion:
        return formatText("version below %u", unsigned{number == 0 ? format::minIndexVersion : format::minNm2Version});
    }
    return "";
}

const char* verdictWord(Verdict verdict) {
    switch (verdict) {
    case Verdict::sound: break;
    case Verdict::damaged: return "damaged";
    case Verdict::unreadable: return "unreadable";
    }
    return "sound";
}

// --- Text ---

std::string noText() { return {}; }

std::string textArchiveStart(const std::string& path, bool first) {
    return formatText("%s%s:\n", first ? "" : "\n", shownText(path).c_str());
}

std::string textMember(const Member& member) {
    std::string text;
    if (member.number == 0) {
        text = formatText("%7s %11s %11s  %-4s %8s  %s\n", "member", "offset", "size", "tag", "version", "name");
    }
    const std::string tag = member.header ? shownTag(member.header->tag) : "-";
    const std::string version = member.header ? std::to_string(member.header->version) : "-";
    const std::string note =
        member.note == Note::none ? "" : formatText("  (%s)", noteText(member.note, member.number).c_str());
    return text + formatText("%7" PRIu64 " %11" PRIu64 " %11" PRIu64 "  %-4s %8s  %s%s\n", member.number, member.offset,
                             member.size, tag.c_str(), version.c_str(),
                             member.name.empty() ? "-" : shownText(member.name).c_str(), note.c_str());
}

std::string textArchiveEnd(const Survey& survey) {
    const Judgement& judgement = survey.judgement;
    std::string verdict = verdictWord(judgement.verdict);
    if (judgement.verdict != Verdict::sound) verdict += " (" + judgement.reason + ")";
    if (judgement.verdict == Verdict::sound && survey.noted) verdict += ", with notes";
    if (!survey.listed) return verdict + "\n";
    const std::string trailing =
        survey.trailing > 0 ? formatText("note: %" PRIu64 " bytes after the footer\n", survey.trailing) : "";
    return trailing + formatText("%" PRIu64 " members, %" PRIu64 " payload bytes, %" PRIu64 " bytes: %s\n",
                                 survey.members, survey.payload, survey.size, verdict.c_str());
}

// --- JSON ---

std::string jsonDocumentStart() { return "{\"archives\": ["; }

std::string jsonArchiveStart(const std::string& path, bool first) {
    return formatText("%s  {\"path\": %s, \"members\": [", first ? "\n" : ",\n", jsonString(path).c_str());
}

std::string jsonOrNull(bool present, const std::string& json) { return present ? json : "null"; }

std::string jsonMember(const Member& member) {
    const std::optional<format::MemberHeader>& header = member.header;
    return formatText("%s    {\"number\": %" PRIu64 ", \"name\": %s, \"offset\": %" PRIu64 ", \"size\": %" PRIu64
                      ", \"tag\": %s, \"version\": %s, \"note\": %s}",
                      member.number == 0 ? "\n" : ",\n", member.number,
                      jsonOrNull(!member.name.empty(), jsonString(member.name)).c_str(), member.offset, member.size,
                      jsonOrNull(header.has_value(), header ? jsonString(shownTag(header->tag)) : "").c_str(),
                      jsonOrNull(header.has_value(), header ? std::to_string(header->version) : "").c_str(),
                      jsonOrNull(member.note != Note::none, jsonString(noteText(member.note, member.number))).c_str());
}

std::string jsonArchiveEnd(const Survey& survey) {
    const bool listed = survey.listed;
    const Judgement& judgement = survey.judgement;
    const auto number = [&](std::uint64_t value) { return jsonOrNull(listed, std::to_string(value)); };
    const std::string trailing = formatText("%" PRIu64 " bytes after the footer", survey.trailing);
    return formatText(
        "%s, \"count\": %s, \"payload\": %s, \"size\": %s, \"verdict\": \"%s\", \"reason\": %s, "
        "\"note\": %s}",
        survey.visited > 0 ? "\n  ]" : "]", number(survey.members).c_str(), number(survey.payload).c_str(),
        number(survey.size).c_str(), verdictWord(judgement.verdict),
        jsonOrNull(judgement.verdict != Verdict::sound, jsonString(judgement.reason)).c_str(),
        jsonOrNull(survey.trailing > 0, jsonString(trailing)).c_str());
}

std::string jsonDocumentEnd() { return "\n]}\n"; }

}  // namespace

const ListingForm textListing{noText, textArchiveStart, textMember, textArchiveEnd, noText};
const ListingForm jsonListing{jsonDocumentStart, jsonArchiveStart, jsonMember, jsonArchiveEnd, jsonDocumentEnd};

}  // namespace nm3info
