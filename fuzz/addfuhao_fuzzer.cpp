#include "fuzz_support.h"
#include "text/script_codec.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quillora::fuzzing::silenceConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto text = quillora::fuzzing::asText(data, size);
    // The download path: decode, then the stored text's markers; and the upload path.
    (void)quillora::addemo(quillora::addfuhao(text));
    (void)quillora::removeFuhao(quillora::removeSpacelines(text));
    (void)quillora::srttxt(text);
    return 0;
}
