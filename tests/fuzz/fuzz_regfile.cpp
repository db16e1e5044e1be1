// Registry text files: any input is parsed or refused without a fault, and
// every tree that is accepted is written and read back to the same tree.
#include "fuzz_input.h"
#include "tools/reg/reg_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavo::tools::regtext;
    Tree tree;
    ParseError error;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (!Parse(bytes, &tree, &error)) {
        FUZZ_CHECK(tree.empty() && error.line >= 1 && !error.what.empty());
        return 0;
    }
    const std::string written = Write(tree);
    Tree again;
    FUZZ_CHECK(Parse(written, &again, &error));
    FUZZ_CHECK(again == tree);
    FUZZ_CHECK(Write(again) == written);
    return 0;
}
