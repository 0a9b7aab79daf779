#pragma once
// Frames of the script channel between the user-interface process and the
// page's web process (compiled into both).
//
// On the wire a frame is
//   uint32 size   bytes that follow (kind + id + body), kFrameHeaderSize..kMaxFrameSize
//   uint8  kind
//   uint32 id     request number chosen by the sender; replies carry it back; 0 for Hello
//   body          per kind, see FrameKind
// all integers little-endian. A value is a tag byte and its payload:
//   0 undefined, 1 null, 2 bool (uint8 0/1), 3 int32, 4 double (IEEE 754 bits),
//   5 text (uint32 byte count + UTF-8), 6 object (uint32 slot count, then per
//   slot uint8 flag: 0 absent, 1 present and then the element's value, 2 absent
//   because reading it failed).
// Decode accepts any bytes: every count is checked against what is left, text
// must be valid UTF-8 without surrogates, objects nest at most kMaxValueDepth
// deep, and a body must be consumed exactly.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ScriptValue.h"

namespace platform {

enum class FrameKind : uint8_t {
    Hello = 1,                  // page -> native: uint64 page id, kTokenSize token bytes (no reply)
    Reply = 2,                  // both: int32 status, value
    ApiCall = 3,                // page -> native: int32 number, value argument
    PropertyGet = 4,            // page -> native: uint8 property
    PropertySet = 5,            // page -> native: uint8 property, value
    Test = 6,                   // page -> native: text, text
    ScriptDialog = 7,           // page -> native: uint8 dialog, text message, text default
    DocumentQuery = 8,          // page -> native: text document address; reply int32 rights
    CallFunction = 9,           // native -> page: text name, uint32 count, values
    CallFunctionWithArray = 10, // native -> page: text name, uint32 count, values
    ReplaceOuterHtml = 11,      // native -> page: text element id, text html
};

enum class ScriptProperty : uint8_t { Var = 0, Function = 1 };
// What the answer to a DocumentQuery grants, as bits: the page may load the
// address (a document, script, style, frame or fetch), and a document at the
// address gets window.external.
enum DocumentRights : int32_t { DocumentMayLoad = 1, DocumentBridged = 2 };
enum class ScriptDialogKind : uint8_t { Alert = 0, Confirm = 1, Prompt = 2 };

// Upper bound of one frame: far above any page or file text the script passes,
// small enough that a corrupt size cannot make a process allocate without limit.
inline constexpr uint32_t kMaxFrameSize = 16u << 20;
// Values plus object slots in one frame. A slot costs one byte on the wire but
// about a hundred in memory, so this, not the frame size, bounds what a frame
// can make the receiver allocate (some tens of megabytes).
inline constexpr size_t kMaxFrameSlots = 1u << 18;
inline constexpr size_t kFrameSizeField = 4;
// The secret a web process proves itself with in its hello.
inline constexpr size_t kTokenSize = 16;
inline constexpr uint32_t kFrameHeaderSize = 5;  // kind + id
// Objects inside objects: script arrays of arrays are shallow; the bound keeps a
// hostile frame from exhausting the decoder's stack.
inline constexpr int kMaxValueDepth = 32;

struct ScriptFrame {
    FrameKind kind = FrameKind::Reply;
    uint32_t id = 0;
    uint64_t pageId = 0;        // Hello
    std::string token;          // Hello: kTokenSize bytes (shorter is padded with zeros)
    int32_t number = 0;         // ApiCall: function number; Reply: status
    uint8_t selector = 0;       // PropertyGet/Set: ScriptProperty; ScriptDialog: ScriptDialogKind
    std::wstring name;          // Test: first; ScriptDialog: message; DocumentQuery: address;
                                // CallFunction*: function name; ReplaceOuterHtml: element id
    std::wstring text;          // Test: second; ScriptDialog: default; ReplaceOuterHtml: html
    std::vector<ScriptValue> values;  // ApiCall, PropertySet, Reply: one; CallFunction*: the list
};

// Appends the whole frame (size field included) to out. False, with out
// unchanged, when the frame would exceed the bounds that DecodeFrame enforces.
bool EncodeFrame(const ScriptFrame& frame, std::string& out);
// Decodes the bytes after the size field (kind, id, body). False for anything
// malformed; frame is then unspecified.
bool DecodeFrame(const uint8_t* data, size_t size, ScriptFrame& frame);

}  // namespace platform
