#include <libxml/xmlreader.h>
#include <zip.h>

#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/documents/document_readers.h"
#include "platform/files.h"

namespace quillora::documents {
namespace {

// A script's document part is small; anything bigger is refused rather than inflated.
constexpr zip_uint64_t kMaxPartBytes = zip_uint64_t{256} << 20;

constexpr const char* kWordNamespace =
    "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr const char* kStrictWordNamespace = "http://purl.oclc.org/ooxml/wordprocessingml/main";
constexpr const char* kCompatibilityNamespace =
    "http://schemas.openxmlformats.org/markup-compatibility/2006";
constexpr const char* kRelationshipsNamespace =
    "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr const char* kDefaultDocumentPart = "word/document.xml";

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct SourceFreer {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};
struct EntryCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
struct ReaderFreer {
    void operator()(xmlTextReader* reader) const { xmlFreeTextReader(reader); }
};
struct XmlStringFreer {
    void operator()(xmlChar* text) const { xmlFree(text); }
};
using ArchivePtr = std::unique_ptr<zip_t, ArchiveCloser>;
using SourcePtr = std::unique_ptr<zip_source_t, SourceFreer>;
using EntryPtr = std::unique_ptr<zip_file_t, EntryCloser>;
using ReaderPtr = std::unique_ptr<xmlTextReader, ReaderFreer>;

ArchivePtr openArchive(std::string_view bytes) {
    zip_error_t error;
    zip_error_init(&error);
    SourcePtr source(zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error));
    if (!source) {
        zip_error_fini(&error);
        throw DocumentError("DOCX 文档无法打开");
    }
    ArchivePtr archive(zip_open_from_source(source.get(), ZIP_RDONLY, &error));
    zip_error_fini(&error);
    if (!archive) throw DocumentError("DOCX 文档不是有效的 ZIP 压缩包");
    source.release();  // the archive owns its source now
    return archive;
}

std::optional<std::string> readEntry(zip_t* archive, const std::string& name) {
    const zip_int64_t index = zip_name_locate(archive, name.c_str(), 0);
    if (index < 0) return std::nullopt;
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) != 0 ||
        !(stat.valid & ZIP_STAT_SIZE)) {
        throw DocumentError("DOCX 文档的 " + name + " 无法读取");
    }
    if (stat.size > kMaxPartBytes) throw DocumentError("DOCX 文档的 " + name + " 过大");
    EntryPtr entry(zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0));
    if (!entry) throw DocumentError("DOCX 文档的 " + name + " 无法解压");
    std::string contents(static_cast<size_t>(stat.size), '\0');
    size_t filled = 0;
    while (filled < contents.size()) {
        const zip_int64_t got =
            zip_fread(entry.get(), contents.data() + filled, contents.size() - filled);
        if (got <= 0) throw DocumentError("DOCX 文档的 " + name + " 解压失败");
        filled += static_cast<size_t>(got);
    }
    return contents;
}

ReaderPtr xmlReaderOf(const std::string& xml, const char* name) {
    if (xml.size() > static_cast<size_t>(INT_MAX)) throw DocumentError("DOCX 文档过大");
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
    // No network, no entity expansion, no error print-outs: the document is untrusted input.
    ReaderPtr reader(xmlReaderForMemory(xml.data(), static_cast<int>(xml.size()), name, nullptr,
                                        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!reader) throw DocumentError("DOCX 文档无法解析");
    return reader;
}

bool hasName(xmlTextReader* reader, const char* namespaceURI, const char* localName) {
    const xmlChar* uri = xmlTextReaderConstNamespaceUri(reader);
    const xmlChar* name = xmlTextReaderConstLocalName(reader);
    return uri && name && std::strcmp(reinterpret_cast<const char*>(uri), namespaceURI) == 0 &&
           std::strcmp(reinterpret_cast<const char*>(name), localName) == 0;
}

bool isWordElement(xmlTextReader* reader, const char* localName) {
    return hasName(reader, kWordNamespace, localName) ||
           hasName(reader, kStrictWordNamespace, localName);
}

std::string attribute(xmlTextReader* reader, const char* name) {
    std::unique_ptr<xmlChar, XmlStringFreer> value(
        xmlTextReaderGetAttribute(reader, reinterpret_cast<const xmlChar*>(name)));
    return value ? reinterpret_cast<const char*>(value.get()) : "";
}

// The main document part named by the package relationships, else the usual name.
std::string documentPartName(zip_t* archive) {
    const std::optional<std::string> relationships = readEntry(archive, "_rels/.rels");
    if (!relationships) return kDefaultDocumentPart;
    ReaderPtr reader = xmlReaderOf(*relationships, "_rels/.rels");
    int status;
    while ((status = xmlTextReaderRead(reader.get())) == 1) {
        if (xmlTextReaderNodeType(reader.get()) != XML_READER_TYPE_ELEMENT ||
            !hasName(reader.get(), kRelationshipsNamespace, "Relationship")) {
            continue;
        }
        const std::string type = attribute(reader.get(), "Type");
        const std::string suffix = "/officeDocument";
        if (type.size() < suffix.size() ||
            type.compare(type.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        std::string target = attribute(reader.get(), "Target");
        if (!target.empty() && target.front() == '/') target.erase(0, 1);
        if (!target.empty()) return target;
    }
    return kDefaultDocumentPart;
}

// Element kinds whose content is not visible text of the document body.
bool isHiddenContainer(xmlTextReader* reader) {
    static const char* const wordElements[] = {"pPr",      "rPr",       "tabs",   "del",
                                               "moveFrom", "instrText", "delText"};
    for (const char* name : wordElements) {
        if (isWordElement(reader, name)) return true;
    }
    // Alternative content repeats the chosen content for older readers.
    return hasName(reader, kCompatibilityNamespace, "Fallback");
}

std::string paragraphText(const std::string& xml, const std::string& partName) {
    ReaderPtr reader = xmlReaderOf(xml, partName.c_str());
    std::string text;
    int hiddenDepth = -1;  // depth of the hidden container we are in, -1 for none
    int textDepth = -1;    // depth of the w:t we are in
    int status;
    while ((status = xmlTextReaderRead(reader.get())) == 1) {
        xmlTextReader* node = reader.get();
        const int type = xmlTextReaderNodeType(node);
        const int depth = xmlTextReaderDepth(node);
        if (type == XML_READER_TYPE_END_ELEMENT) {
            if (depth == hiddenDepth) hiddenDepth = -1;
            if (depth == textDepth) textDepth = -1;
            if (hiddenDepth < 0 && isWordElement(node, "p")) text += '\n';
            continue;
        }
        if (hiddenDepth >= 0) continue;
        if (type == XML_READER_TYPE_ELEMENT) {
            const bool empty = xmlTextReaderIsEmptyElement(node) == 1;
            if (isHiddenContainer(node)) {
                if (!empty) hiddenDepth = depth;
            } else if (isWordElement(node, "p")) {
                if (empty) text += '\n';
            } else if (isWordElement(node, "t")) {
                if (!empty) textDepth = depth;
            } else if (isWordElement(node, "tab")) {
                text += '\t';
            } else if (isWordElement(node, "br") || isWordElement(node, "cr")) {
                text += '\n';
            } else if (isWordElement(node, "noBreakHyphen")) {
                text += "\u2011";
            }
            continue;
        }
        if (textDepth >= 0 && (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA ||
                               type == XML_READER_TYPE_WHITESPACE ||
                               type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE)) {
            if (const xmlChar* value = xmlTextReaderConstValue(node)) {
                text += reinterpret_cast<const char*>(value);
            }
        }
    }
    if (status != 0) throw DocumentError("DOCX 文档的 " + partName + " 不是有效的 XML");
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

}  // namespace

std::string docxToPlainText(std::string_view bytes) {
    ArchivePtr archive = openArchive(bytes);
    const std::string partName = documentPartName(archive.get());
    const std::optional<std::string> document = readEntry(archive.get(), partName);
    if (!document) throw DocumentError("DOCX 文档缺少正文 " + partName);
    return paragraphText(*document, partName);
}

std::string readDocxDocument(const std::filesystem::path& path) {
    return docxToPlainText(readFile(path));
}

}  // namespace quillora::documents
