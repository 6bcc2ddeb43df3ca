#include "subtitles/editor_xml_reader.h"

#include <libxml/parser.h>
#include <libxml/pattern.h>
#include <libxml/tree.h>
#include <libxml/xmlreader.h>
#include <libxml/xpath.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

#include "platform/console.h"
#include "text/numbers.h"
#include "text/time_codes.h"
#include "text/unicode.h"

namespace quillora {
namespace {

// The documents are read as a stream: an editor file of 10,000 titles is hundreds of megabytes,
// and a whole tree of it would take gigabytes and most of the time just to free. The selections
// are the XPath expressions of the formats: the location paths are matched on the stream by
// libxml2's streaming patterns, and each selected element is expanded and queried with XPath.

struct ReaderDeleter {
    void operator()(xmlTextReader* reader) const { xmlFreeTextReader(reader); }
};
struct PatternDeleter {
    void operator()(xmlPattern* pattern) const { xmlFreePattern(pattern); }
};
struct StreamDeleter {
    void operator()(xmlStreamCtxt* stream) const { xmlFreeStreamCtxt(stream); }
};
struct XPathContextDeleter {
    void operator()(xmlXPathContext* context) const { xmlXPathFreeContext(context); }
};
struct XPathCompiledDeleter {
    void operator()(xmlXPathCompExpr* expression) const { xmlXPathFreeCompExpr(expression); }
};
struct XPathObjectDeleter {
    void operator()(xmlXPathObject* object) const { xmlXPathFreeObject(object); }
};
struct XmlStringDeleter {
    void operator()(xmlChar* text) const { xmlFree(text); }
};

using XPathObjectPtr = std::unique_ptr<xmlXPathObject, XPathObjectDeleter>;
using XmlStringPtr = std::unique_ptr<xmlChar, XmlStringDeleter>;

const xmlChar* xmlText(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

std::string takeString(xmlChar* raw) {
    XmlStringPtr owned(raw);
    return owned ? std::string(reinterpret_cast<const char*>(owned.get())) : std::string();
}

std::string trimmedMessage(const char* message) {
    std::string text = message ? message : "unknown error";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// An absolute location path ("//a/b/c") matched against the elements as they stream past.
class StreamPath {
  public:
    explicit StreamPath(const char* path)
        : pattern_(xmlPatterncompile(xmlText(path), nullptr, 0, nullptr)),
          stream_(pattern_ ? xmlPatternGetStreamCtxt(pattern_.get()) : nullptr) {
        if (!stream_) throw EditorXmlError(std::string("cannot compile the path ") + path);
    }
    /// An element starts; true when the path selects it.
    bool enter(const xmlChar* localName, const xmlChar* namespaceUri) {
        return xmlStreamPush(stream_.get(), localName, namespaceUri) == 1;
    }
    void leave() { xmlStreamPop(stream_.get()); }

  private:
    std::unique_ptr<xmlPattern, PatternDeleter> pattern_;
    std::unique_ptr<xmlStreamCtxt, StreamDeleter> stream_;
};

// A relative XPath expression, compiled once and evaluated for many context nodes.
class RelativePath {
  public:
    explicit RelativePath(const char* expression)
        : text_(expression), compiled_(xmlXPathCompile(xmlText(expression))) {
        if (!compiled_) throw EditorXmlError(std::string("cannot compile XPath ") + expression);
    }
    XPathObjectPtr select(xmlXPathContext* context, xmlNode* node) const {
        context->node = node;
        XPathObjectPtr result(xmlXPathCompiledEval(compiled_.get(), context));
        if (!result) throw EditorXmlError(std::string("XPath query failed: ") + text_);
        return result;
    }

  private:
    const char* text_;
    std::unique_ptr<xmlXPathCompExpr, XPathCompiledDeleter> compiled_;
};

int nodeCount(const xmlXPathObject* result) {
    return result->type == XPATH_NODESET && result->nodesetval ? result->nodesetval->nodeNr : 0;
}

xmlNode* nodeAt(const xmlXPathObject* result, int index) {
    return result->nodesetval->nodeTab[index];
}

std::string stringValue(xmlNode* node) {
    return takeString(xmlXPathCastNodeToString(node));
}

std::string attribute(xmlNode* node, const char* name) {
    if (!node || node->type != XML_ELEMENT_NODE) return {};
    return takeString(xmlGetProp(node, xmlText(name)));
}

struct ErrorState {
    std::string message;
};

void recordError(void* data, xmlError* error) {
    auto* state = static_cast<ErrorState*>(data);
    if (!error || error->level < XML_ERR_ERROR || !state->message.empty()) return;
    state->message = trimmedMessage(error->message);
    if (error->line > 0) state->message += " (line " + std::to_string(error->line) + ")";
}

// Walks the elements of a document in order, from memory or straight from a file. Throws
// EditorXmlError for a document that is not well-formed.
class ElementStream {
  public:
    explicit ElementStream(std::string_view xml) {
        initializeLibrary();
        if (xml.size() > static_cast<size_t>(INT_MAX)) {
            throw EditorXmlError("document too large to parse");
        }
        start(xmlReaderForMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                                 kOptions));
    }

    /// Reads straight from the file, so a large document never sits in memory whole.
    explicit ElementStream(const std::filesystem::path& file) : file_(file) {
        initializeLibrary();
        file_.open();
        start(xmlReaderForFd(file_.descriptor(), nullptr, nullptr, kOptions));
    }

    /// Calls start(localName, namespaceUri) at each element start (it may expand the element)
    /// and end() after each element.
    template <typename Start, typename End>
    void run(Start&& start, End&& end) {
        bool checkedDeclarations = false;
        int status = 0;
        while ((status = xmlTextReaderRead(reader_.get())) == 1) {
            const int type = xmlTextReaderNodeType(reader_.get());
            if (type == XML_READER_TYPE_ELEMENT) {
                if (!checkedDeclarations) {
                    checkedDeclarations = true;
                    refuseEntityDeclarations();
                }
                const bool empty = xmlTextReaderIsEmptyElement(reader_.get()) == 1;
                start(xmlTextReaderConstLocalName(reader_.get()),
                      xmlTextReaderConstNamespaceUri(reader_.get()));
                if (empty) end();
            } else if (type == XML_READER_TYPE_END_ELEMENT) {
                end();
            }
        }
        if (status < 0 || !errors_.message.empty()) {
            throw EditorXmlError(errors_.message.empty() ? "the document is not well-formed XML"
                                                         : errors_.message);
        }
        if (!checkedDeclarations) throw EditorXmlError("the document has no root element");
    }

    /// The element the stream is at, with everything inside it.
    xmlNode* expand() {
        xmlNode* node = xmlTextReaderExpand(reader_.get());
        if (!node) {
            throw EditorXmlError(errors_.message.empty() ? "the document is not well-formed XML"
                                                         : errors_.message);
        }
        return node;
    }

    /// An attribute of the element the stream is at; empty when it has none.
    std::string attribute(const char* name) {
        return takeString(xmlTextReaderGetAttribute(reader_.get(), xmlText(name)));
    }
    bool hasAttributes() { return xmlTextReaderHasAttributes(reader_.get()) == 1; }

    xmlXPathContext* xpath() {
        if (!xpath_) {
            xpath_.reset(xmlXPathNewContext(document()));
            if (!xpath_) throw EditorXmlError("out of memory");
        }
        return xpath_.get();
    }

  private:
    // The library sets up its global tables once, before any thread reads with it.
    static void initializeLibrary() {
        static std::once_flag once;
        std::call_once(once, [] { xmlInitParser(); });
    }

    // No network, no external DTD, no entity substitution: the documents need none of it.
    static constexpr int kOptions = XML_PARSE_NONET;

    // A file opened for the reader; a missing file or a folder is named in the error.
    class InputFile {
      public:
        InputFile() = default;
        explicit InputFile(std::filesystem::path path) : path_(std::move(path)) {}
        ~InputFile() {
            if (fd_ >= 0) ::close(fd_);
        }
        InputFile(const InputFile&) = delete;
        InputFile& operator=(const InputFile&) = delete;
        void open() {
            fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd_ < 0) fail(errno);
            struct stat info {};
            if (::fstat(fd_, &info) != 0) fail(errno);
            if (S_ISDIR(info.st_mode)) fail(EISDIR);
        }
        int descriptor() const { return fd_; }

      private:
        [[noreturn]] void fail(int error) const {
            throw EditorXmlError("cannot read the file: " + std::generic_category().message(error));
        }
        std::filesystem::path path_;
        int fd_ = -1;
    };

    void start(xmlTextReader* reader) {
        reader_.reset(reader);
        if (!reader_) throw EditorXmlError("cannot start reading the document");
        xmlTextReaderSetStructuredErrorHandler(reader_.get(), recordError, &errors_);
    }

    // Editor documents never declare entities; refusing them keeps a hostile file from
    // expanding into gigabytes when text is read out.
    void refuseEntityDeclarations() {
        const xmlDoc* doc = document();
        if (doc && doc->intSubset && doc->intSubset->entities) {
            throw EditorXmlError("the document declares entities, which editor files never do");
        }
    }

    // The document being built, reached through the current node: xmlTextReaderCurrentDoc
    // would make the reader keep every node it passes and never free the document.
    xmlDoc* document() const {
        const xmlNode* node = xmlTextReaderCurrentNode(reader_.get());
        return node ? node->doc : nullptr;
    }

    InputFile file_;  // outlives the reader that reads from it
    std::unique_ptr<xmlTextReader, ReaderDeleter> reader_;
    std::unique_ptr<xmlXPathContext, XPathContextDeleter> xpath_;
    ErrorState errors_;
};

// A decimal number at the start of `text` (blanks before it allowed); 0 when there is none.
float leadingFloat(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const char* begin = text.data() + i;
    const char* last = text.data() + text.size();
    double value = 0;
    const auto [end, error] = std::from_chars(begin, last, value);
    if (end == begin) return 0;
    if (error == std::errc::result_out_of_range) {
        // Too small reads as 0, too large as infinity.
        const std::string_view number(begin, static_cast<size_t>(end - begin));
        const bool tiny = number.find("e-") != number.npos || number.find("E-") != number.npos;
        value = tiny ? 0.0 : HUGE_VAL;
    }
    const auto single = static_cast<float>(value);
    return negative ? -single : single;
}

// A decimal number at the start of `text`, in double precision; 0 when there is none.
double leadingDouble(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    double value = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), value);
    if (end == text.data() + i) return 0;
    if (error == std::errc::result_out_of_range) return 0;
    return negative ? -value : value;
}

// FCPXML time "N/Ds" or "Ns": the pieces as the Part reads them (single precision) and the
// same time in double precision for times that are moved onto the project timeline.
struct RationalTime {
    float single = 0;
    double exact = 0;
};

RationalTime rationalTime(std::string_view value) {
    std::string text;
    for (char c : value) {
        if (c != 's') text.push_back(c);
    }
    const std::vector<std::string_view> pieces = splitOn(text, "/");
    if (pieces.size() == 1) return {leadingFloat(pieces[0]), leadingDouble(pieces[0])};
    if (pieces.size() == 2) {
        return {leadingFloat(pieces[0]) / leadingFloat(pieces[1]),
                leadingDouble(pieces[0]) / leadingDouble(pieces[1])};
    }
    return {};
}

void appendBlock(std::string& out, size_t number, const std::string& start, const std::string& end,
                 std::string_view text) {
    out.append(std::to_string(number));
    out.push_back('\n');
    out.append(start);
    out.append(" --> ");
    out.append(end);
    out.push_back('\n');
    out.append(text);
    out.append("\n\n\n");
}

// Titles are read wherever they sit in a project's sequence: on the gap of the documents the
// FCPXML writer makes, connected to clips of any kind, in the primary or a secondary storyline.
// Each element with an offset places its own time line: its local time `start` sits at
// `offset` in its parent's, so a title's place on the project time line is the sum of its
// ancestors' offsets less their starts. Titles under a disabled element are left out. Titles on
// a gap of the primary storyline count only when there are no others, as they always have.
std::string fcpxmlToSrt(ElementStream& stream) {
    struct Frame {
        std::string name;
        double origin = 0;  // project time of this element's local time 0
        bool enabled = true;
    };
    struct Title {
        std::string text;
        std::string start;
        std::string end;
    };
    const RelativePath textStyles("./text/text-style");
    std::vector<Frame> frames;
    std::vector<Title> titles;
    std::vector<Title> gapTitles;
    bool inProjectSequence = false;
    size_t sequenceDepth = 0;

    auto readTitle = [&](const Frame& parent, const RationalTime& offset) {
        xmlNode* title = stream.expand();
        XPathObjectPtr styles = textStyles.select(stream.xpath(), title);
        if (nodeCount(styles.get()) == 0) return;
        std::string text;
        for (int k = 0; k < nodeCount(styles.get()); ++k)
            text += stringValue(nodeAt(styles.get(), k));
        const RationalTime duration = rationalTime(attribute(title, "duration"));
        const bool onSpineGap = parent.name == "gap" && frames.size() == sequenceDepth + 3 &&
                                frames[sequenceDepth + 1].name == "spine";
        std::vector<Title>& into = onSpineGap ? gapTitles : titles;
        if (parent.origin == 0) {
            // On a time line that starts at 0 (the writer's gap), the single precision reading
            // these documents always had.
            into.push_back({std::move(text), secondsToSRTTime(offset.single),
                            secondsToSRTTime(offset.single + duration.single)});
        } else {
            const double start = parent.origin + offset.exact;
            into.push_back({std::move(text), computedTimeString(start),
                            computedTimeString(start + duration.exact)});
        }
    };

    stream.run(
        [&](const xmlChar* localName, const xmlChar*) {
            const std::string_view name = reinterpret_cast<const char*>(localName);
            Frame frame{std::string(name), frames.empty() ? 0.0 : frames.back().origin,
                        frames.empty() || frames.back().enabled};
            if (!inProjectSequence) {
                if (name == "sequence" && !frames.empty() && frames.back().name == "project") {
                    inProjectSequence = true;
                    sequenceDepth = frames.size();
                    frame.origin = -rationalTime(stream.attribute("tcStart")).exact;
                }
                frames.push_back(std::move(frame));
                return;
            }
            const bool attributes = stream.hasAttributes();
            if (attributes && stream.attribute("enabled") == "0") frame.enabled = false;
            const std::string offsetText = attributes ? stream.attribute("offset") : std::string();
            const RationalTime offset = rationalTime(offsetText);
            if (name == "title" && frame.enabled) readTitle(frames.back(), offset);
            if (!offsetText.empty()) {
                frame.origin += offset.exact - rationalTime(stream.attribute("start")).exact;
            }
            frames.push_back(std::move(frame));
        },
        [&] {
            if (inProjectSequence && frames.size() == sequenceDepth + 1) inProjectSequence = false;
            frames.pop_back();
        });

    if (titles.empty()) titles = std::move(gapTitles);
    std::string srt;
    srt.reserve(titles.size() * 64);
    for (size_t i = 0; i < titles.size(); ++i) {
        appendBlock(srt, i + 1, titles[i].start, titles[i].end, titles[i].text);
    }
    return srt;
}

// Generator items of the sequence's video tracks, numbered by their place. An item trimmed by a
// transition carries -1 as its start (or end): its edge is then the transition's start (or end),
// or, without one, the other edge less (plus) its in-to-out length. Disabled items are skipped
// but keep their number. At an NTSC rate the frames run 1000/1001 slower than the timebase.
std::string xmemlToSrt(ElementStream& stream) {
    struct Entry {
        bool transition = false;
        size_t track = 0;
        size_t number = 0;
        int64_t start = 0;
        int64_t end = 0;
        std::optional<int64_t> length;  // out - in
        std::string text;
    };
    StreamPath timebasePath("//sequence/timecode/rate/timebase");
    StreamPath ntscPaths[] = {StreamPath("//sequence/timecode/rate/ntsc"),
                              StreamPath("//sequence/rate/ntsc")};
    StreamPath trackPath("//sequence/media/video/track");
    StreamPath itemPath("//sequence/media/video/track/generatoritem");
    StreamPath transitionPath("//sequence/media/video/track/transitionitem");
    const RelativePath parameterIds("./effect/parameter/parameterid");
    const RelativePath values("./value");
    const RelativePath starts("./start");
    const RelativePath ends("./end");
    const RelativePath ins("./in");
    const RelativePath outs("./out");
    const RelativePath enabledFlags("./enabled");

    std::optional<std::string> timebaseText;
    bool ntsc = false;
    std::vector<Entry> entries;
    size_t position = 0;
    size_t track = 0;
    auto frameOf = [&](const RelativePath& path, xmlNode* node) -> std::optional<int64_t> {
        XPathObjectPtr found = path.select(stream.xpath(), node);
        if (nodeCount(found.get()) == 0) return std::nullopt;
        return parseWholeInteger(stringValue(nodeAt(found.get(), 0)));
    };
    auto readItem = [&](xmlNode* item) {
        xmlXPathContext* context = stream.xpath();
        XPathObjectPtr enabled = enabledFlags.select(context, item);
        if (nodeCount(enabled.get()) > 0 &&
            toLower(trimRegexWhitespace(stringValue(nodeAt(enabled.get(), 0)))) == "false") {
            return;
        }
        XPathObjectPtr ids = parameterIds.select(context, item);
        xmlNode* parameter = nullptr;
        for (int k = 0; k < nodeCount(ids.get()); ++k) {
            if (stringValue(nodeAt(ids.get(), k)) == "str") {
                parameter = nodeAt(ids.get(), k)->parent;
                break;
            }
        }
        if (!parameter) return;
        XPathObjectPtr value = values.select(context, parameter);
        if (nodeCount(value.get()) == 0) return;
        std::string text = stringValue(nodeAt(value.get(), 0));
        if (text.empty()) return;
        const std::optional<int64_t> startFrame = frameOf(starts, item);
        const std::optional<int64_t> endFrame = frameOf(ends, item);
        if (!startFrame || !endFrame) return;
        const std::optional<int64_t> in = frameOf(ins, item);
        const std::optional<int64_t> out = frameOf(outs, item);
        Entry entry{false, track, position, *startFrame, *endFrame, std::nullopt, std::move(text)};
        if (in && out && *in >= 0 && *out >= *in) entry.length = *out - *in;
        entries.push_back(std::move(entry));
    };
    auto readTransition = [&](xmlNode* item) {
        const std::optional<int64_t> startFrame = frameOf(starts, item);
        const std::optional<int64_t> endFrame = frameOf(ends, item);
        if (startFrame && endFrame)
            entries.push_back({true, track, 0, *startFrame, *endFrame, std::nullopt, {}});
    };
    stream.run(
        [&](const xmlChar* name, const xmlChar* uri) {
            if (timebasePath.enter(name, uri) && !timebaseText) {
                timebaseText = stringValue(stream.expand());
            }
            for (StreamPath& path : ntscPaths) {
                if (path.enter(name, uri)) {
                    ntsc = ntsc ||
                           toLower(trimRegexWhitespace(stringValue(stream.expand()))) == "true";
                }
            }
            if (trackPath.enter(name, uri)) ++track;
            if (itemPath.enter(name, uri)) {
                ++position;  // skipped items still use up their number
                readItem(stream.expand());
            }
            if (transitionPath.enter(name, uri)) readTransition(stream.expand());
        },
        [&] {
            timebasePath.leave();
            for (StreamPath& path : ntscPaths)
                path.leave();
            trackPath.leave();
            itemPath.leave();
            transitionPath.leave();
        });

    if (!timebaseText) return {};
    const std::optional<double> timebase = parseDecimalNumber(*timebaseText);
    // A rate of zero, a negative or an infinite one cannot place any frame in time.
    if (!timebase || !std::isfinite(*timebase) || *timebase <= 0) return {};
    const double rate = ntsc ? *timebase * 1000.0 / 1001.0 : *timebase;
    auto timeOf = [&](int64_t frame) {
        return ntsc ? computedTimeString(static_cast<double>(frame) / rate)
                    : framesToSRTTime(frame, rate);
    };
    std::string srt;
    srt.reserve(entries.size() * 64);
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& item = entries[i];
        if (item.transition) continue;
        const Entry* before =
            i > 0 && entries[i - 1].track == item.track ? &entries[i - 1] : nullptr;
        const Entry* after = i + 1 < entries.size() && entries[i + 1].track == item.track
                                 ? &entries[i + 1]
                                 : nullptr;
        int64_t start = item.start;
        int64_t end = item.end;
        if (start == -1 && before && before->transition) start = before->start;
        if (end == -1 && after && after->transition) end = after->end;
        if (start == -1 && end >= 0 && item.length)
            start = std::max<int64_t>(0, end - *item.length);
        if (end == -1 && start >= 0 && item.length) end = start + *item.length;
        if (start == -1 || end == -1) continue;  // nothing tells where it sits
        appendBlock(srt, item.number, timeOf(start), timeOf(end), item.text);
    }
    return srt;
}

}  // namespace

std::string fcpxmlDocumentToSrt(std::string_view xml) {
    ElementStream stream(xml);
    return fcpxmlToSrt(stream);
}

std::string xmemlDocumentToSrt(std::string_view xml) {
    ElementStream stream(xml);
    return xmemlToSrt(stream);
}

std::string readFcpxmlFileAsSrt(const std::filesystem::path& file) {
    try {
        ElementStream stream(file);
        return fcpxmlToSrt(stream);
    } catch (const EditorXmlError& error) {
        throw EditorXmlError(file.string() + ": " + error.description());
    }
}

std::string readXmemlFileAsSrt(const std::filesystem::path& file) {
    try {
        ElementStream stream(file);
        return xmemlToSrt(stream);
    } catch (const EditorXmlError& error) {
        throw EditorXmlError(file.string() + ": " + error.description());
    }
}

std::string fcpxmltosrt(const std::filesystem::path& fileurl) {
    try {
        return readFcpxmlFileAsSrt(fileurl);
    } catch (const EditorXmlError& error) {
        console("Error parsing XML: " + error.description());
        return {};
    }
}

std::string xmltosrt(const std::filesystem::path& fileurl) {
    try {
        return readXmemlFileAsSrt(fileurl);
    } catch (const EditorXmlError& error) {
        console("Error parsing XML: " + error.description());
        return {};
    }
}

}  // namespace quillora
