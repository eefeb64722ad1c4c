// lvasm.h: the project's own kit for making and reading "\033LVB" bytecode chunks.
//
//   - a plain description of a compiled function (lvAsmFunction) and of the chunk
//     header (lvAsmHeader), serialised by AsmWriteChunk; every header byte and every
//     count can be overridden so that loader tests can build broken chunks on purpose;
//   - instruction encoders and decoders for every instruction format;
//   - AsmReadChunk: a bounds-checked reader of chunks back into the description;
//   - AsmAssembleText: the text assembler behind build/bin/lvasm (syntax in
//     docs/assembler.md);
//   - AsmDisassemble: the printer behind build/bin/lvdis, whose output AsmAssembleText
//     turns back into the same bytes.
//
// Depends on nothing but the C++ standard library. It deliberately shares no code
// with vm/: the machine's loader and dumper and this kit check each other.
// Names carry an "Asm" prefix so that a test can link this kit and the machine together.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// ---------------------------------------------------------------------------------
// Opcodes and instruction fields
// ---------------------------------------------------------------------------------

enum lvAsmOpcode : int {
    ASMOP_MOVE = 0, ASMOP_LOADK = 1, ASMOP_LOADBOOL = 2, ASMOP_LOADNIL = 3,
    ASMOP_GETUPVAL = 4, ASMOP_GETGLOBAL = 5, ASMOP_GETTABLE = 6, ASMOP_SETGLOBAL = 7,
    ASMOP_SETUPVAL = 8, ASMOP_SETTABLE = 9, ASMOP_NEWTABLE = 10, ASMOP_ADD = 11,
    ASMOP_SUB = 12, ASMOP_MUL = 13, ASMOP_DIV = 14, ASMOP_INTDIV = 15, ASMOP_MOD = 16,
    ASMOP_SHL = 17, ASMOP_SHR = 18, ASMOP_OR = 19, ASMOP_AND = 20, ASMOP_XOR = 21,
    ASMOP_POW = 22, ASMOP_UNM = 23, ASMOP_NOT = 24, ASMOP_BNOT = 25, ASMOP_CONCAT = 26,
    ASMOP_JMP = 27, ASMOP_EQ = 28, ASMOP_LT = 29, ASMOP_LE = 30, ASMOP_TEST = 31,
    ASMOP_CALL = 32, ASMOP_TAILCALL = 33, ASMOP_RETURN = 34, ASMOP_FORLOOP = 35,
    ASMOP_TFORLOOP = 36, ASMOP_TFORPREP = 37, ASMOP_SETLIST = 38, ASMOP_SETLISTO = 39,
    ASMOP_CLOSE = 40, ASMOP_CLOSURE = 41, ASMOP_SELF = 42, ASMOP_CATCHCALL = 43,
    ASMOP_CATCHTAILCALL = 44,
    ASMOP_COUNT = 45
};

// Field limits of the 32-bit instruction word.
constexpr uint32_t ASM_MAX_A = 255;              // bits 24-31
constexpr uint32_t ASM_MAX_B = 511;              // bits 15-23
constexpr uint32_t ASM_MAX_C = 511;              // bits 6-14
constexpr uint32_t ASM_MAX_BX = 262143;          // bits 6-23
constexpr int32_t ASM_SBX_BIAS = 131071;         // sBx = Bx - bias
constexpr int32_t ASM_JUMP_BIAS = 8388607;       // jump offset = bits 6-29 - bias
constexpr uint32_t ASM_MAX_JUMP_FIELD = 16777215;
constexpr int ASM_RK_CONSTANT = 250;             // RK operand >= 250 names a constant
constexpr int ASM_MAX_STACK = 250;               // largest accepted maximum stack size
constexpr uint32_t ASM_GOSUB_MARK = 0x80000000u; // bits 30-31 = binary 10 on a jump
constexpr int ASM_SETLIST_BATCH = 32;            // list setter items per batch

// Thrown by the encoders for a field out of range, and by AsmWriteChunk for a
// description it cannot write (for example a length width other than 4 or 8).
struct lvAsmError {
    std::string message;  // what was wrong, in plain words
};

// Lower-case mnemonic of an opcode ("move", "getglobal"), or nullptr above 44.
const char *AsmOpcodeName(int opcode);

uint32_t AsmEncodeABC(int opcode, int a, int b, int c);
uint32_t AsmEncodeABx(int opcode, int a, int bx);
uint32_t AsmEncodeAsBx(int opcode, int a, int sbx);
// Opcode 27 with a 24-bit offset (target = index + 1 + offset); gosub sets bits 30-31 to 10.
uint32_t AsmEncodeJump(int offset, bool gosub);
// Register-or-constant operand naming constant `index`.
int AsmConstantOperand(int index);
// Pseudo-instructions after a closure: capture a register / an upvalue of the maker.
uint32_t AsmEncodeCaptureRegister(int reg);
uint32_t AsmEncodeCaptureUpvalue(int upvalue);
// Table constructor: B field for an array part of at least `size` slots (rounded up to
// the next size the packed form can hold), C field for at least `size` hash nodes.
int AsmEncodeArraySize(uint32_t size);
int AsmEncodeHashSize(uint32_t size);
uint64_t AsmDecodeArraySize(int b);   // (B mod 8) * 2^(B div 8); saturates at UINT64_MAX
uint64_t AsmDecodeHashSize(int c);    // 0 for C = 0, else 2^C; saturates
// List setter Bx: `count` (1..32) items stored from index `base` (a multiple of 32).
int AsmEncodeSetListBx(uint32_t base, int count);

inline int AsmGetOpcode(uint32_t w) { return int(w & 0x3F); }
inline int AsmGetA(uint32_t w) { return int(w >> 24); }
inline int AsmGetB(uint32_t w) { return int((w >> 15) & 0x1FF); }
inline int AsmGetC(uint32_t w) { return int((w >> 6) & 0x1FF); }
inline int AsmGetBx(uint32_t w) { return int((w >> 6) & 0x3FFFF); }
inline int AsmGetSBx(uint32_t w) { return AsmGetBx(w) - ASM_SBX_BIAS; }
inline int AsmGetJumpOffset(uint32_t w) { return int((w >> 6) & 0xFFFFFF) - ASM_JUMP_BIAS; }
inline int AsmGetJumpKind(uint32_t w) { return int(w >> 30); }  // 0 plain, 2 gosub

// ---------------------------------------------------------------------------------
// Chunk description
// ---------------------------------------------------------------------------------

enum lvAsmConstantType : int {
    ASM_CONST_NIL = 0,
    ASM_CONST_NUMBER = 3,
    ASM_CONST_STRING = 4
};

struct lvAsmConstant {
    int type = ASM_CONST_NIL;         // type byte written: 0, 3, 4, or any other on purpose
    double number = 0;                // the value of a number constant
    std::optional<std::string> text;  // a string constant's bytes; nullopt writes an absent string
    std::vector<uint8_t> payload;     // bytes written after an unknown type byte
};

struct lvAsmLocal {
    std::optional<std::string> name;  // nullopt writes an absent string
    int32_t startPc = 0;              // first instruction where the local is live
    int32_t endPc = 0;                // first instruction where it is dead again
};

struct lvAsmFunction {
    std::optional<std::string> source;  // nullopt: absent (the enclosing function's source)
    int32_t lineDefined = 0;            // 0 marks a main function
    uint8_t upvalueCount = 0;           // upvalues the closure carries
    uint8_t paramCount = 0;             // fixed parameters
    uint8_t varargFlag = 0;             // 1 when extra arguments are packed into a table
    uint8_t maxStackSize = 2;           // registers the function needs
    std::vector<int32_t> lineInfo;      // source line per instruction, or empty
    std::vector<lvAsmLocal> locals;     // debug names of registers with their pc ranges
    std::vector<std::optional<std::string>> upvalueNames;  // empty or one per upvalue
    std::vector<lvAsmConstant> constants;                   // constant pool
    std::vector<lvAsmFunction> functions;                   // nested prototypes
    std::vector<uint32_t> code;                             // instruction words
    // Counts written in place of the real ones (loader tests: negative or lying counts).
    std::optional<int32_t> lineInfoCount, localCount, upvalueNameCount, constantCount,
        functionCount, codeCount;
};

struct lvAsmHeader {
    uint8_t signature[4] = {0x1B, 'L', 'V', 'B'};  // "\033LVB"
    uint8_t endianness = 1;      // 1 little-endian as stored; other values mean byte-reversed
    uint8_t intSize = 4;         // size byte of an integer
    uint8_t lengthSizeByte = 4;  // size byte of a length; AsmWriteChunk keeps it equal to
                                 // lengthWidth unless lengthSizeOverride is set
    bool lengthSizeOverride = false;  // write lengthSizeByte even when it differs
    uint8_t instructionSize = 4; // size byte of an instruction
    uint8_t opBits = 6;          // opcode field bits
    uint8_t aBits = 8;           // A field bits
    uint8_t bBits = 9;           // B field bits
    uint8_t cBits = 9;           // C field bits
    uint8_t numberSize = 8;      // size byte of a number
    double checkNumber = 31415926.535897933;  // the machine's dumper writes this value
    int lengthWidth = 4;         // bytes of every string length actually written: 4 or 8
    bool reversed = false;       // write every integer, length, number and word byte-reversed
};

// A whole chunk: header and main function.
struct lvAsmChunk {
    lvAsmHeader header;   // header fields
    lvAsmFunction main;   // main function
};

// The identity of a pool entry: its type byte and its bytes (numbers by bit pattern, so
// -0 and 0, or two NaNs of other bits, are different entries). Literals in the text form
// name the first entry with their key.
std::string AsmConstantKey(const lvAsmConstant &k);

// Serialises a chunk. Throws lvAsmError only for a length width other than 4 or 8.
std::vector<uint8_t> AsmWriteChunk(const lvAsmChunk &chunk);

// Reads a chunk the way the machine's loader lays it out (without verifying the code).
// Answers false with a message naming the offset and the field on any malformed input.
bool AsmReadChunk(const uint8_t *data, size_t size, lvAsmChunk &out, std::string &error);

// ---------------------------------------------------------------------------------
// Rules of well-formed code
// ---------------------------------------------------------------------------------

struct lvAsmProblem {
    int pc = -1;       // instruction index, or -1 for the function as a whole
    std::string text;  // what is wrong
};

// Checks a function (not its nested functions) against the operand rules that the
// machine's verifier applies, plus a few stricter ones (for-loop targets inside the
// function, registers a loop instruction touches below the stack size, parameters that
// fit the stack). Words at the indexes in `skip` (raw words) are not checked themselves.
// Appends one problem per fault; answers true when there is none.
bool AsmCheckFunction(const lvAsmFunction &f, const std::vector<bool> *skip,
                      std::vector<lvAsmProblem> &problems);
// Smallest maximum stack size (at least 2) that every register operand of the code fits.
int AsmComputeStackSize(const lvAsmFunction &f, const std::vector<bool> *skip);

// ---------------------------------------------------------------------------------
// Text assembler and disassembler
// ---------------------------------------------------------------------------------

struct lvAsmLabel {
    std::string name;  // label as written in the source
    int index = 0;     // instruction index in the main function
};

struct lvAsmResult {
    bool ok = false;                  // no errors
    lvAsmChunk chunk;                 // the assembled description
    std::vector<uint8_t> bytes;       // the chunk, when ok
    std::vector<lvAsmLabel> labels;   // labels of the main function, in source order
    std::vector<std::string> errors;  // "NAME:LINE: message" per error
};

// Assembles source text. `name` is used in error messages and for the main function's
// default source "@name".
lvAsmResult AsmAssembleText(const std::string &text, const std::string &name);

// Assembles or throws lvAsmError whose message holds every error, one per line: the
// short form for tests that build their programs in place.
std::vector<uint8_t> AsmAssembleOrThrow(const std::string &text, const std::string &name = "test");

// Label map text: "name index" per line.
std::string AsmFormatLabelMap(const std::vector<lvAsmLabel> &labels);

// Prints a chunk in the assembler's text form; AsmAssembleText of the text gives the
// same bytes back for every chunk AsmReadChunk accepts.
std::string AsmDisassemble(const lvAsmChunk &chunk);
// Reads and prints; answers false with a message for input that is not a chunk.
bool AsmDisassembleBytes(const uint8_t *data, size_t size, std::string &text, std::string &error);

// ---------------------------------------------------------------------------------
// Command-line helpers
// ---------------------------------------------------------------------------------

// Reads a whole file ("-" is standard input); answers false with a message.
bool AsmReadInput(const std::string &path, std::string &data, std::string &error);
// Writes a whole file; answers false with a message.
bool AsmWriteOutput(const std::string &path, const void *data, size_t size, std::string &error);
