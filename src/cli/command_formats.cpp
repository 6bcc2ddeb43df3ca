// Subtitle format conversions: `srt2fcpxml`, `srt2premiere`, `xml2srt` and `columns`.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/preferences.h"
#include "platform/uuid.h"
#include "subtitles/columns.h"
#include "subtitles/editor_xml_reader.h"
#include "subtitles/fcpxml_writer.h"
#include "subtitles/frame_rate.h"
#include "subtitles/premiere_writer.h"
#include "subtitles/srt_parser.h"
#include "subtitles/text_file.h"
#include "text/script_codec.h"

namespace quillora::cli {
namespace {

namespace fs = std::filesystem;

// Output of input `input`: `beside` unless -o names a file (one input) or a folder (several).
fs::path outputFor(const fs::path& beside, const std::string& option) {
    if (option.empty()) return beside;
    const fs::path chosen(option);
    std::error_code ec;
    if (fs::is_directory(chosen, ec)) return chosen / beside.filename();
    return chosen;
}

// Several inputs need -o to be a folder (or nothing); checked before any is converted.
void checkOutputOption(const std::string& option, size_t inputCount) {
    std::error_code ec;
    if (inputCount < 2 || option.empty() || fs::is_directory(option, ec)) return;
    if (isStandardOutput(option)) {
        throw CommandFailure{"-o - takes a single input file"};
    }
    throw CommandFailure{"-o must name an existing folder when several files are given: " + option};
}

// Writes one converted document to -o - (stdout) or its file, after the overwrite check, and
// names the file written on stdout.
void deliver(const fs::path& output, bool toStdout, std::string_view document,
             const std::function<void(const fs::path&, std::string_view)>& write) {
    if (toStdout) {
        printToStandardOutput(document);
        return;
    }
    write(output, document);
    std::cout << output.string() << "\n";
}

void requireFile(const fs::path& file) {
    std::error_code ec;
    if (!fs::exists(file, ec)) throw CommandFailure{"没有这个文件: " + file.string()};
}

struct FcpxmlOptions {
    std::vector<std::string> files;
    std::string output;
    std::string encoding;
    Overwrite overwrite = Overwrite::ask;
    std::string fps, font, fontSize, frame, lineWidth, x, y, tracking, shadowAngle, shadowDistance,
        face, scaleX, scaleY;
    bool verbose = false;
};

void runSrtToFcpxml(const FcpxmlOptions& options) {
    ScopedConsoleSink route(diagnosticsSink(options.verbose));
    FcpxmlSettings settings = FcpxmlSettings::load(Preferences::shared());
    const std::pair<const std::string*, std::string*> overrides[] = {
        {&options.fps, &settings.fps},
        {&options.font, &settings.fontName},
        {&options.fontSize, &settings.fontSize},
        {&options.frame, &settings.selectedFrame},
        {&options.lineWidth, &settings.lineWidth},
        {&options.x, &settings.px},
        {&options.y, &settings.py},
        {&options.tracking, &settings.charDistance},
        {&options.shadowAngle, &settings.shadowAngle},
        {&options.shadowDistance, &settings.shadowDistance},
        {&options.face, &settings.selectedFontFace},
        {&options.scaleX, &settings.selectedSx},
        {&options.scaleY, &settings.selectedSy},
    };
    for (const auto& [given, setting] : overrides) {
        if (!given->empty()) *setting = *given;
    }
    for (auto& c : settings.selectedFrame)
        c = c == 'x' ? 'X' : c;
    checkOutputOption(options.output, options.files.size());
    const bool toStdout = isStandardOutput(options.output);
    forEachInput(options.files, [&](const fs::path& input) {
        requireFile(input);
        const fs::path output = outputFor(fcpxmlPathFor(input), options.output);
        if (!toStdout) claimOutput(output, options.overwrite);
        try {
            const std::string srt = readInputText(input, options.encoding);
            FcpxmlConversion conversion;
            try {
                conversion = buildFcpxml(srt, input.stem().string(), settings);
            } catch (const FcpxmlStop& stop) {
                console(stop.consoleLine());
                throw;
            }
            deliver(output, toStdout, conversion.document, writeTextFile);
        } catch (const FcpxmlStop& stop) {
            throw CommandFailure{input.string() + ": " + stop.description()};
        } catch (const CommandFailure&) {
            throw;
        } catch (const Error& error) {
            throw CommandFailure{error.description()};
        }
    });
}

void installSrtToFcpxml(CLI::App& app) {
    auto options = std::make_shared<FcpxmlOptions>();
    CLI::App* command = app.add_subcommand(
        "srt2fcpxml", "Convert SRT files to FCPXML 1.7 documents (FILE.fcpxml beside each)");
    command->footer(
        "Styles come from the preferences the app uses; the options override them for this run "
        "only and are not stored.");
    command->add_option("files", options->files, "SRT files")->required();
    addEncodingOption(command, options->encoding);
    command->add_option("-o,--output", options->output,
                        "output file (one input; - for stdout) or existing folder");
    addOverwriteOptions(command, options->overwrite);
    command
        ->add_option("--fps", options->fps,
                     "frame rate (srt_fps): a whole number or 23.976, 29.97, 59.94")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
                int whole = 0;
                double fps = 0;
                if (CLI::detail::lexical_cast(value, whole) && whole >= 1 && whole <= 100000) {
                    return {};
                }
                if (CLI::detail::lexical_cast(value, fps) && ntscRate(fps)) return {};
                return "expects a whole frame rate from 1 to 100000, or 23.976, 29.97, 59.94";
            },
            "FPS"));
    command->add_option("--font", options->font, "font family (srt_fontname)");
    command->add_option("--font-size", options->fontSize, "font size (srt_fontsize)");
    command->add_option("--frame", options->frame, "frame size WIDTHXHEIGHT (srt_selectedFrame)")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
                static const std::regex shape("[0-9]+[xX][0-9]+");
                return std::regex_match(value, shape) ? std::string()
                                                      : "expects WIDTHXHEIGHT, e.g. 1920X1080";
            },
            "WIDTHXHEIGHT"));
    command->add_option("--line-width", options->lineWidth, "stroke width (srt_linewidth)");
    command->add_option("--x", options->x, "position x (srt_px)");
    command->add_option("--y", options->y, "position y, written negated (srt_py)");
    command->add_option("--tracking", options->tracking, "letter spacing × 100 (srt_chardisvalue)");
    command->add_option("--shadow-angle", options->shadowAngle, "srt_shadowanglevalue");
    command->add_option("--shadow-distance", options->shadowDistance, "srt_shadowdisvalue");
    command->add_option("--face", options->face, "font face, e.g. Regular (srt_selectedfontface)");
    command->add_option("--scale-x", options->scaleX, "srt_selectedsx");
    command->add_option("--scale-y", options->scaleY, "srt_selectedsy");
    command->add_flag("-v,--verbose", options->verbose, "show diagnostic lines on stderr");
    addExample(command, "quillora-cli srt2fcpxml episode.srt --fps 29.97 -o episode.fcpxml");
    command->callback([options] { runSrtToFcpxml(*options); });
}

struct PremiereOptions {
    std::vector<std::string> files;
    std::string output;
    std::string encoding;
    Overwrite overwrite = Overwrite::ask;
    float fps = 25;
    int width = 1920;
    int height = 1080;
    bool tianhe = false;
    bool verbose = false;
};

void installSrtToPremiere(CLI::App& app) {
    auto options = std::make_shared<PremiereOptions>();
    CLI::App* command = app.add_subcommand(
        "srt2premiere",
        "Convert SRT files to Premiere XML (xmeml 4) sequences (FILE.xml beside each)");
    command->add_option("files", options->files, "SRT files")->required();
    addEncodingOption(command, options->encoding);
    command->add_option("-o,--output", options->output,
                        "output file (one input; - for stdout) or existing folder");
    addOverwriteOptions(command, options->overwrite);
    command->add_option("--fps", options->fps, "frame rate: a whole number or 23.976, 29.97, 59.94")
        ->capture_default_str()
        ->check(CLI::Range(1.0, 1000.0));
    command->add_option("--width", options->width, "frame width")
        ->capture_default_str()
        ->check(CLI::Range(1, 100000));
    command->add_option("--height", options->height, "frame height")
        ->capture_default_str()
        ->check(CLI::Range(1, 100000));
    command->add_flag("--tianhe", options->tianhe, "name-plate variant (plate SRTs)");
    command->add_flag("-v,--verbose", options->verbose, "show diagnostic lines on stderr");
    addExample(command,
               "quillora-cli srt2premiere episode.srt --fps 29.97 --width 3840 --height 2160");
    command->callback([options] {
        ScopedConsoleSink route(diagnosticsSink(options->verbose));
        checkOutputOption(options->output, options->files.size());
        const bool toStdout = isStandardOutput(options->output);
        forEachInput(options->files, [&](const fs::path& input) {
            requireFile(input);
            const fs::path output = outputFor(premiereXmlPathFor(input), options->output);
            if (!toStdout) claimOutput(output, options->overwrite);
            try {
                const std::vector<SubtitleItem> items =
                    readsrtofBytes(readInputText(input, options->encoding));
                if (items.empty()) {
                    throw CommandFailure("SRT 中没有可用的字幕: " + input.string());
                }
                const std::string document =
                    buildPremiereXml(items, input.stem().string(), options->fps, options->width,
                                     options->height, options->tianhe, [] { return uuidString(); });
                deliver(output, toStdout, document,
                        [](const fs::path& file, std::string_view text) {
                            writeFileAtomically(file, text);
                        });
            } catch (const CommandFailure&) {
                throw;
            } catch (const Error& error) {
                throw CommandFailure{error.description()};
            }
        });
    });
}

struct ReadOptions {
    std::string file;
    std::string output;
    std::string encoding;
    bool tsv = false;
    bool csv = false;
    bool text = false;
    bool verbose = false;
    Overwrite overwrite = Overwrite::ask;
};

std::string srtOf(const fs::path& file) {
    requireFile(file);
    try {
        return loadSubtitleFileAsSrt(file);
    } catch (const Error& error) {
        throw CommandFailure{error.description()};
    }
}

void installXmlToSrt(CLI::App& app) {
    addFileToTextCommand(
        app, "xml2srt",
        "Print the titles of an editor document as SRT: .xml (Premiere), "
        ".fcpxml or .fcpxmld bundle",
        "editor document", "quillora-cli xml2srt episode.fcpxml -o episode.srt",
        [](const fs::path& file) {
            const SubtitleFileKind kind = subtitleFileKind(file);
            if (kind == SubtitleFileKind::srt || kind == SubtitleFileKind::unsupported) {
                throw CommandFailure{"不是编辑器文档 (xml、fcpxml、fcpxmld): " + file.string()};
            }
            std::string srt = srtOf(file);
            if (srt.empty()) throw CommandFailure{"文档中没有字幕: " + file.string()};
            return srt;
        });
}

void installColumns(CLI::App& app) {
    auto options = std::make_shared<ReadOptions>();
    CLI::App* command = app.add_subcommand(
        "columns", "Print the subtitles of an SRT, .xml, .fcpxml or .fcpxmld as a table or text");
    command->add_option("file", options->file, "subtitle file")->required();
    addEncodingOption(command, options->encoding);
    command->add_option("-o,--output", options->output,
                        "write to this file instead (- for stdout)");
    addOverwriteOptions(command, options->overwrite);
    auto* tsv = command->add_flag("--tsv", options->tsv, "tab-separated table (the default)");
    auto* csv =
        command->add_flag("--csv", options->csv, "comma-separated table (RFC 4180 quoting)");
    auto* text = command->add_flag("--text", options->text, "plain text, one subtitle per line");
    tsv->excludes(csv)->excludes(text);
    csv->excludes(text);
    command->add_flag("-v,--verbose", options->verbose, "show diagnostic lines on stderr");
    addExample(command, "quillora-cli columns episode.srt --csv -o episode.csv");
    command->callback([options] {
        ScopedConsoleSink route(diagnosticsSink(options->verbose));
        if (!options->output.empty() && !isStandardOutput(options->output)) {
            claimOutput(options->output, options->overwrite);
        }
        // SRT files come in any encoding; editor documents declare theirs.
        const std::string srt = subtitleFileKind(options->file) == SubtitleFileKind::srt
                                    ? readInputText(options->file, options->encoding)
                                    : srtOf(options->file);
        if (options->text) {
            writeOrPrint(options->output, srttxt(srt));
        } else if (options->csv) {
            writeOrPrint(options->output, csvColumns(SRTParser().parse(srt)));
        } else {
            writeOrPrint(options->output, tabColumns(SRTParser().parse(srt)));
        }
    });
}

const CommandRegistration registration([](CLI::App& app) {
    installSrtToFcpxml(app);
    installSrtToPremiere(app);
    installXmlToSrt(app);
    installColumns(app);
});

}  // namespace
}  // namespace quillora::cli
