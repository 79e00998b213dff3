// The fuzz target without libFuzzer: feeds each file named on the command
// line through it once, so that the dialogue is held to the target's model on
// the end-to-end cases in every build (tests/CMakeLists.txt). A mismatch
// aborts, as it does while fuzzing, after the case's name and the lines
// that differ.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
    const std::vector<const char*> files(argv + 1, argv + argc);
    for (const char* name : files) {
        std::ifstream file(name, std::ios::binary);
        if (!file.is_open()) {
            std::fprintf(stderr, "cannot open %s\n", name);
            return 1;
        }
        const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                      std::istreambuf_iterator<char>()};
        // Named first: a case the model disagrees on aborts.
        std::fprintf(stderr, "case %s\n", name);
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("the model agrees on %zu cases\n", files.size());
    return 0;
}
