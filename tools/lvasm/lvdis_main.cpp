// lvdis_main.cpp: command-line front of the disassembler.
//
//   lvdis CHUNK [-o TEXT]
//
// CHUNK "-" reads standard input; the text goes to standard output unless -o is given.
// Exit status 0 on success, 1 when the input is not a readable chunk, 2 on bad usage or I/O.
#include "tools/lvasm/lvasm.h"

#include <cstdio>

int main(int argc, char **argv)
{
    std::string input, output = "-";
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "-o" && i + 1 < argc) {
            output = argv[++i];
        } else if (input.empty() && (arg == "-" || arg[0] != '-')) {
            input = arg;
        } else {
            input.clear();
            break;
        }
    }
    if (input.empty()) {
        std::fprintf(stderr, "usage: lvdis CHUNK [-o TEXT]\n");
        return 2;
    }
    std::string bytes, text, error;
    if (!AsmReadInput(input, bytes, error)) {
        std::fprintf(stderr, "lvdis: %s\n", error.c_str());
        return 2;
    }
    if (!AsmDisassembleBytes(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), text, error)) {
        std::fprintf(stderr, "lvdis: %s: %s\n", input.c_str(), error.c_str());
        return 1;
    }
    if (!AsmWriteOutput(output, text.data(), text.size(), error)) {
        std::fprintf(stderr, "lvdis: %s\n", error.c_str());
        return 2;
    }
    return 0;
}
