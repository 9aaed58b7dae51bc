#include "nm3info/run.h"

#include <algorithm>
#include <new>

#include "cli/text.h"
#include "nm3info/command_line.h"
#include "nm3info/extract.h"
#include "nm3info/listing.h"
#include "nm3info/messages.h"

namespace nm3info {

namespace {

using cli::formatText;

// Text for standard output, gathered and written in large pieces; once a
// write fails, nothing more is written.
struct Output {
    fs::File* file;
    std::string pending;
    bool gone = false;
};

constexpr std::size_t outputPiece = 64 * 1024;

[[nodiscard]] bool flushed(Output& out) {
    if (!out.gone && !out.pending.empty()) out.gone = !out.file->write(out.pending.data(), out.pending.size());
    out.pending.clear();
    return !out.gone;
}

void put(Output& out, std::string_view text) {
    out.pending += text;
    if (out.pending.size() >= outputPiece) static_cast<void>(flushed(out));
}

// Says at once why the archive is not sound, so that a terminal shows it
// where it belongs among the listing's lines.
void sayNotSound(cli::Transcript& errors, const std::string& path, const Judgement& judgement) {
    errors.say(formatText(text::notSound, path.c_str(), judgement.reason.c_str()));
    errors.flush();
}

Judgement openFailure(const Opened& opened) { return {Verdict::unreadable, opened.reason}; }

int list(const Job& job, fs::FileSystem& files, const Streams& streams) {
    const ListingForm& form = job.json ? jsonListing : textListing;
    Output out{streams.out, {}};
    int status = 0;
    put(out, form.documentStart());
    for (std::size_t i = 0; i < job.archives.size(); ++i) {
        const std::string& path = job.archives[i];
        put(out, form.archiveStart(path, i == 0));
        const Opened opened = openArchive(files, path);
        Survey survey{openFailure(opened)};
        if (opened.file) {
            survey = surveyArchive(*opened.file, baseNameOf(files, path), [&](const Member& member) {
                put(out, form.member(member));
                return !out.gone;
            });
        }
        if (out.gone) return 1;
        put(out, form.archiveEnd(survey));
        if (survey.judgement.verdict == Verdict::sound) continue;
        if (!flushed(out)) return 1;
        sayNotSound(streams.errors, path, survey.judgement);
        status = 1;
    }
    put(out, form.documentEnd());
    return flushed(out) ? status : 1;
}

int test(const Job& job, fs::FileSystem& files, const Streams& streams) {
    int status = 0;
    for (const std::string& path : job.archives) {
        const Opened opened = openArchive(files, path);
        const Judgement judgement =
            opened.file ? surveyArchive(*opened.file, "", nullptr).judgement : openFailure(opened);
        if (judgement.verdict == Verdict::sound) continue;
        sayNotSound(streams.errors, path, judgement);
        status = 1;
    }
    return status;
}

int extract(const Job& job, fs::FileSystem& files, const Streams& streams) {
    const std::string& path = job.archives.front();
    const Opened opened = openArchive(files, path);
    if (!opened.file) {
        sayNotSound(streams.errors, path, openFailure(opened));
        return 1;
    }
    const Extracted extracted = extractMember(files, *opened.file, job.member, *streams.out);
    if (extracted.outputGone) return 1;
    if (extracted.reason.empty()) return 0;
    sayNotSound(streams.errors, path, {Verdict::damaged, extracted.reason});
    return 1;
}

// Help and the version: status 0 once written whole.
int written(fs::File& out, const std::string& text) { return out.write(text.data(), text.size()) ? 0 : 1; }

int act(const Action& action, fs::FileSystem& files, const Streams& streams) {
    if (const Misuse* misuse = std::get_if<Misuse>(&action)) {
        streams.errors.say(formatText(text::misuse, misuse->message.c_str()));
        return 2;
    }
    const Job* job = std::get_if<Job>(&action);
    if (job != nullptr && job->mode == Mode::test) return test(*job, files, streams);
    // Where nothing can be written, nothing is worth doing.
    if (streams.out == nullptr) return 1;
    if (std::holds_alternative<Help>(action)) return written(*streams.out, text::help);
    if (std::holds_alternative<Version>(action)) {
        return written(*streams.out, formatText(text::version, NM3INFO_VERSION));
    }
    return job->mode == Mode::list ? list(*job, files, streams) : extract(*job, files, streams);
}

}  // namespace

int run(const std::vector<std::string>& arguments, fs::FileSystem& files, const Streams& streams,
        cli::OptionStyle style) {
    const std::vector<std::string> operands(arguments.begin() + std::min<std::size_t>(arguments.size(), 1),
                                            arguments.end());
    try {
        return act(readCommandLine(operands, style), files, streams);
    } catch (const std::bad_alloc&) {
        streams.errors.say("nm3info: out of memory\n");
        return 1;
    }
}

}  // namespace nm3info
