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

// FCPXML time "N/Ds" or "Ns" in seconds, single precision.
float rationalSeconds(std::string_view value) {
    std::string text;
    for (char c : value) {
        if (c != 's') text.push_back(c);
    }
    const std::vector<std::string_view> pieces = splitOn(text, "/");
    if (pieces.size() == 1) return leadingFloat(pieces[0]);
    if (pieces.size() == 2) return leadingFloat(pieces[0]) / leadingFloat(pieces[1]);
    return 0;
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

std::string fcpxmlToSrt(ElementStream& stream) {
    struct Title {
        std::string text;
        float offset;
        float duration;
    };
    StreamPath onClips("//library/event/project/sequence/spine/clip/title/text/text-style");
    StreamPath onGap("//library/event/project/sequence/spine/gap/title/text/text-style");
    std::vector<Title> clipTitles;
    std::vector<Title> gapTitles;
    auto take = [&](std::vector<Title>& titles) {
        xmlNode* style = stream.expand();
        xmlNode* title = style->parent ? style->parent->parent : nullptr;
        titles.push_back(Title{stringValue(style), rationalSeconds(attribute(title, "offset")),
                               rationalSeconds(attribute(title, "duration"))});
    };
    stream.run(
        [&](const xmlChar* name, const xmlChar* uri) {
            const bool clip = onClips.enter(name, uri);
            const bool gap = onGap.enter(name, uri);
            if (clip) take(clipTitles);
            if (gap) take(gapTitles);
        },
        [&] {
            onClips.leave();
            onGap.leave();
        });

    // Titles on clips win; the gap holds them in documents written by the FCPXML writer.
    const std::vector<Title>& titles = clipTitles.empty() ? gapTitles : clipTitles;
    std::string srt;
    srt.reserve(titles.size() * 64);
    for (size_t i = 0; i < titles.size(); ++i) {
        const Title& title = titles[i];
        appendBlock(srt, i + 1, secondsToSRTTime(title.offset),
                    secondsToSRTTime(title.offset + title.duration), title.text);
    }
    return srt;
}

std::string xmemlToSrt(ElementStream& stream) {
    struct Item {
        size_t number;
        int64_t start;
        int64_t end;
        std::string text;
    };
    StreamPath timebasePath("//sequence/timecode/rate/timebase");
    StreamPath itemPath("//sequence/media/video/track/generatoritem");
    const RelativePath parameterIds("./effect/parameter/parameterid");
    const RelativePath values("./value");
    const RelativePath starts("./start");
    const RelativePath ends("./end");

    std::optional<std::string> timebaseText;
    std::vector<Item> items;
    size_t position = 0;
    auto readItem = [&](xmlNode* item) {
        xmlXPathContext* context = stream.xpath();
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
        XPathObjectPtr start = starts.select(context, item);
        XPathObjectPtr end = ends.select(context, item);
        if (nodeCount(start.get()) == 0 || nodeCount(end.get()) == 0) return;
        const std::optional<int64_t> startFrame =
            parseWholeInteger(stringValue(nodeAt(start.get(), 0)));
        const std::optional<int64_t> endFrame =
            parseWholeInteger(stringValue(nodeAt(end.get(), 0)));
        if (!startFrame || !endFrame) return;
        items.push_back(Item{position, *startFrame, *endFrame, std::move(text)});
    };
    stream.run(
        [&](const xmlChar* name, const xmlChar* uri) {
            if (timebasePath.enter(name, uri) && !timebaseText) {
                timebaseText = stringValue(stream.expand());
            }
            if (itemPath.enter(name, uri)) {
                ++position;  // skipped items still use up their number
                readItem(stream.expand());
            }
        },
        [&] {
            timebasePath.leave();
            itemPath.leave();
        });

    if (!timebaseText) return {};
    const std::optional<double> timebase = parseDecimalNumber(*timebaseText);
    // A rate of zero, a negative or an infinite one cannot place any frame in time.
    if (!timebase || !std::isfinite(*timebase) || *timebase <= 0) return {};
    std::string srt;
    srt.reserve(items.size() * 64);
    for (const Item& item : items) {
        appendBlock(srt, item.number, framesToSRTTime(item.start, *timebase),
                    framesToSRTTime(item.end, *timebase), item.text);
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
