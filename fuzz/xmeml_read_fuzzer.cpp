#include "editor_xml_file_reader.h"
#include "fuzz_support.h"
#include "subtitles/editor_xml_reader.h"
#include "xml_fuzz_support.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quillora::fuzzing::silenceConsole();
    quillora::fuzzing::silenceLibxml();
    std::atexit(quillora::fuzzing::removeScratchFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quillora::fuzzing::compareReaders(quillora::fuzzing::asText(data, size),
                                      quillora::xmemlDocumentToSrt, quillora::xmltosrt);
    return 0;
}
