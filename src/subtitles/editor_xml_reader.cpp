#include "subtitles/editor_xml_reader.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <memory>
#include <optional>
#include <system_error>

#include "platform/console.h"
#include "platform/files.h"
#include "text/numbers.h"
#include "text/time_codes.h"
#include "text/unicode.h"

namespace quillora {
namespace {

struct ParserContextDeleter {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};
struct DocumentDeleter {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
struct XPathContextDeleter {
    void operator()(xmlXPathContext* context) const { xmlXPathFreeContext(context); }
};
struct XPathObjectDeleter {
    void operator()(xmlXPathObject* object) const { xmlXPathFreeObject(object); }
};
struct XmlStringDeleter {
    void operator()(xmlChar* text) const { xmlFree(text); }
};

using DocumentPtr = std::unique_ptr<xmlDoc, DocumentDeleter>;
using XPathContextPtr = std::unique_ptr<xmlXPathContext, XPathContextDeleter>;
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

DocumentPtr parseDocument(std::string_view xml) {
    if (xml.size() > static_cast<size_t>(INT_MAX)) {
        throw EditorXmlError("document too large to parse");
    }
    std::unique_ptr<xmlParserCtxt, ParserContextDeleter> context(xmlNewParserCtxt());
    if (!context) throw EditorXmlError("out of memory");
    // No network, no external DTD, no entity substitution: the documents need none of it.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    DocumentPtr document(xmlCtxtReadMemory(context.get(), xml.data(), static_cast<int>(xml.size()),
                                           nullptr, nullptr, options));
    if (!document || !context->wellFormed) {
        const xmlError* error = xmlCtxtGetLastError(context.get());
        std::string message = trimmedMessage(error ? error->message : nullptr);
        if (error && error->line > 0) message += " (line " + std::to_string(error->line) + ")";
        throw EditorXmlError(message);
    }
    // Editor documents never declare entities; refusing them keeps a hostile file from
    // expanding into gigabytes when text is read out.
    if (document->intSubset && document->intSubset->entities) {
        throw EditorXmlError("the document declares entities, which editor files never do");
    }
    return document;
}

XPathObjectPtr evaluate(xmlXPathContext* context, const char* expression) {
    XPathObjectPtr result(xmlXPathEvalExpression(xmlText(expression), context));
    if (!result) throw EditorXmlError(std::string("XPath query failed: ") + expression);
    return result;
}

int nodeCount(const xmlXPathObject* result) {
    return result->type == XPATH_NODESET && result->nodesetval ? result->nodesetval->nodeNr : 0;
}

std::string stringValue(xmlNode* node) {
    return takeString(xmlXPathCastNodeToString(node));
}

std::string attribute(xmlNode* node, const char* name) {
    if (!node || node->type != XML_ELEMENT_NODE) return {};
    return takeString(xmlGetProp(node, xmlText(name)));
}

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

XPathContextPtr newXPathContext(xmlDoc* document) {
    XPathContextPtr context(xmlXPathNewContext(document));
    if (!context) throw EditorXmlError("out of memory");
    return context;
}

std::string readFileBytes(const std::filesystem::path& file) {
    try {
        return readFile(file);
    } catch (const std::system_error& error) {
        throw EditorXmlError("cannot read " + file.string() + ": " + error.code().message());
    }
}

}  // namespace

std::string fcpxmlDocumentToSrt(std::string_view xml) {
    DocumentPtr document = parseDocument(xml);
    XPathContextPtr context = newXPathContext(document.get());
    XPathObjectPtr styles = evaluate(
        context.get(), "//library/event/project/sequence/spine/clip/title/text/text-style");
    if (nodeCount(styles.get()) == 0) {
        styles = evaluate(context.get(),
                          "//library/event/project/sequence/spine/gap/title/text/text-style");
    }
    std::string srt;
    const int count = nodeCount(styles.get());
    for (int i = 0; i < count; ++i) {
        xmlNode* style = styles->nodesetval->nodeTab[i];
        const std::string text = stringValue(style);
        xmlNode* title = style->parent ? style->parent->parent : nullptr;
        const float offset = rationalSeconds(attribute(title, "offset"));
        const float duration = rationalSeconds(attribute(title, "duration"));
        appendBlock(srt, static_cast<size_t>(i) + 1, secondsToSRTTime(offset),
                    secondsToSRTTime(offset + duration), text);
    }
    return srt;
}

std::string xmemlDocumentToSrt(std::string_view xml) {
    DocumentPtr document = parseDocument(xml);
    XPathContextPtr context = newXPathContext(document.get());
    XPathObjectPtr timebaseNodes = evaluate(context.get(), "//sequence/timecode/rate/timebase");
    if (nodeCount(timebaseNodes.get()) == 0) return {};
    const std::optional<double> timebase =
        parseDecimalNumber(stringValue(timebaseNodes->nodesetval->nodeTab[0]));
    // A rate of zero, a negative or an infinite one cannot place any frame in time.
    if (!timebase || !std::isfinite(*timebase) || *timebase <= 0) return {};

    XPathObjectPtr items = evaluate(context.get(), "//sequence/media/video/track/generatoritem");
    std::string srt;
    const int count = nodeCount(items.get());
    for (int i = 0; i < count; ++i) {
        xmlNode* item = items->nodesetval->nodeTab[i];
        context->node = item;
        XPathObjectPtr ids = evaluate(context.get(), "./effect/parameter/parameterid");
        xmlNode* parameter = nullptr;
        for (int k = 0; k < nodeCount(ids.get()); ++k) {
            xmlNode* id = ids->nodesetval->nodeTab[k];
            if (stringValue(id) == "str") {
                parameter = id->parent;
                break;
            }
        }
        if (!parameter) continue;
        context->node = parameter;
        XPathObjectPtr values = evaluate(context.get(), "./value");
        if (nodeCount(values.get()) == 0) continue;
        const std::string text = stringValue(values->nodesetval->nodeTab[0]);
        if (text.empty()) continue;

        context->node = item;
        XPathObjectPtr starts = evaluate(context.get(), "./start");
        XPathObjectPtr ends = evaluate(context.get(), "./end");
        if (nodeCount(starts.get()) == 0 || nodeCount(ends.get()) == 0) continue;
        const std::optional<int64_t> start =
            parseWholeInteger(stringValue(starts->nodesetval->nodeTab[0]));
        const std::optional<int64_t> end =
            parseWholeInteger(stringValue(ends->nodesetval->nodeTab[0]));
        if (!start || !end) continue;
        appendBlock(srt, static_cast<size_t>(i) + 1, framesToSRTTime(*start, *timebase),
                    framesToSRTTime(*end, *timebase), text);
    }
    return srt;
}

std::string readFcpxmlFileAsSrt(const std::filesystem::path& file) {
    const std::string bytes = readFileBytes(file);
    try {
        return fcpxmlDocumentToSrt(bytes);
    } catch (const EditorXmlError& error) {
        throw EditorXmlError(file.string() + ": " + error.description());
    }
}

std::string readXmemlFileAsSrt(const std::filesystem::path& file) {
    const std::string bytes = readFileBytes(file);
    try {
        return xmemlDocumentToSrt(bytes);
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
