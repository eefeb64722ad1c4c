// lvasm_main.cpp: command-line front of the assembler.
//
//   lvasm SOURCE -o CHUNK [-l LABELMAP]
//
// SOURCE "-" reads standard input. Errors go to standard error as "file:line: message";
// the exit status is 0 on success, 1 on errors in the source, 2 on bad usage or I/O.
#include "tools/lvasm/lvasm.h"

#include <cstdio>

static int Usage()
{
    std::fprintf(stderr, "usage: lvasm SOURCE -o CHUNK [-l LABELMAP]\n");
    return 2;
}

int main(int argc, char **argv)
{
    std::string source, output, labels;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if ((arg == "-o" || arg == "-l") && i + 1 < argc) {
            (arg == "-o" ? output : labels) = argv[++i];
        } else if (source.empty() && (arg == "-" || arg[0] != '-')) {
            source = arg;
        } else {
            return Usage();
        }
    }
    if (source.empty() || output.empty()) return Usage();

    std::string text, error;
    if (!AsmReadInput(source, text, error)) {
        std::fprintf(stderr, "lvasm: %s\n", error.c_str());
        return 2;
    }
    size_t slash = source.find_last_of('/');
    std::string name = source == "-" ? "stdin" : slash == std::string::npos ? source : source.substr(slash + 1);
    lvAsmResult r = AsmAssembleText(text, name);
    if (!r.ok) {
        for (const std::string &e : r.errors) std::fprintf(stderr, "%s\n", e.c_str());
        return 1;
    }
    std::string map = AsmFormatLabelMap(r.labels);
    if (!AsmWriteOutput(output, r.bytes.data(), r.bytes.size(), error) ||
        (!labels.empty() && !AsmWriteOutput(labels, map.data(), map.size(), error))) {
        std::fprintf(stderr, "lvasm: %s\n", error.c_str());
        return 2;
    }
    return 0;
}
