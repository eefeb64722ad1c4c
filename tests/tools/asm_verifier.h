// asm_verifier.h: an independent reading of the machine's bytecode operand rules, for
// tests of the assembler kit. It parses chunk bytes on its own (no code of tools/lvasm)
// and lists every rule a function breaks, so that what the assembler writes is checked
// by something other than the assembler's own rule code. Only little-endian chunks
// with 4- or 8-byte lengths are read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct lvTestProto {
    int upvalueCount = 0;                 // upvalues
    int paramCount = 0;                   // parameters
    int varargFlag = 0;                   // vararg byte
    int maxStack = 0;                     // maximum stack size
    size_t lineInfoCount = 0;             // line info entries
    size_t upvalueNameCount = 0;          // upvalue names
    std::vector<int> constantTypes;       // type byte per constant
    std::vector<lvTestProto> nested;      // nested prototypes
    std::vector<uint32_t> code;           // instruction words
};

// Parses a chunk; answers false with a message when the bytes are not a chunk.
bool ParseTestChunk(const std::vector<uint8_t> &bytes, lvTestProto &main, std::string &error);

// Every rule broken by the function and its nested functions, as "path: text".
std::vector<std::string> VerifyTestProto(const lvTestProto &p, const std::string &path = "main");

// ParseTestChunk + VerifyTestProto; a parse failure is reported as one problem.
std::vector<std::string> VerifyTestChunk(const std::vector<uint8_t> &bytes);

// Small helpers shared by the assembler tests.
std::string ReadTestFile(const std::string &path);               // whole file, "" when missing
std::string JoinLines(const std::vector<std::string> &lines);    // one per line, each ended by \n
