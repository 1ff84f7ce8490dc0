// Runs the fuzz entry point over every file of a corpus folder (the normal build's test).
#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    DIR* d = opendir(argv[1]);
    if (!d) return 2;
    int count = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream in(std::string(argv[1]) + "/" + e->d_name, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        ++count;
    }
    closedir(d);
    std::printf("%d inputs\n", count);
    return count > 0 ? 0 : 1;
}
