// The road of a file access once its request path is known, shared by the CREATE handler and the
// other-command handlers of both versions: the name filters, the tree's "WAIT" row, the share's
// local folder, and the "access" and "unknown" records (log line and list row).
#pragma once

#include <cstddef>
#include <cstdint>

#include "audit/answer.h"
#include "audit/context.h"
#include "audit/open_files.h"
#include "audit/verdict.h"
#include "base/data.h"
#include "platform/platform.h"

namespace qvx {

inline constexpr int kDollarNameCnt = 2;
inline constexpr int kPipeNameCnt = 11;
extern const char DollarName[kDollarNameCnt][32];
extern const char PipeName[kPipeNameCnt][32];

// Wide names are copied into a zeroed buffer of this size; a name of at most 1022 bytes thus
// always ends with a UTF-16 zero.
inline constexpr size_t kWideNameSize = 1024;
inline constexpr unsigned long kMaxWideName = kWideNameSize - 2;
// The converted request path, sized for the longest wire name in its worst encoding: a UTF-16
// unit takes at most 3 bytes of UTF-8 (a surrogate pair, two units, 4), and at most 2 of any
// Windows ANSI code page. 170 Japanese characters already need 510 bytes.
inline constexpr size_t kAccessNameSize = kMaxWideName / 2 * 3 + 1;

// True when a name is not worth logging (never with AllPacketGet set): it holds "*" or "PIPE",
// a colon (with pipes, a file name: a colon before its last component), or, with pipes, it is one
// of the PipeName entries (with or without the leading backslash, which SMB2 names lack; in any
// case).
bool QVX_NameFiltered(const CaptureContext& ctx, const char* name, bool pipes);
// The share name of a tree path \\server\share, after its third backslash; "" for none.
const char* QVX_TreePathShare(const char* share_path);
// True when the tree in slot is on IPC$, or its connect answer said it holds named pipes: its
// opens are pipes, never files.
bool QVX_TreeIsIpc(const CaptureContext& ctx, int slot);
// A named stream's name in place: "file:stream:$DATA" becomes "file:stream", the default stream
// "file::$DATA" the file itself.
void QVX_StreamName(char* name);
// Resolves "." and ".." of a converted request name in place (size bytes), collapses runs of
// backslashes and names a stream as QVX_StreamName does. False when the name would leave the
// share: it is then kept as sent, to be logged marked and never looked up.
bool QVX_ResolveAccessName(char* name, size_t size);

// Converts the wide name in a kWideNameSize buffer into out (size bytes). Returns the
// conversion's result: the bytes written with the terminator, 0 on failure.
int QVX_ConvertWideName(const unsigned char* wide, char* out, size_t size);

// The 32-bit little-endian TreeId of an SMB2 header copy.
uint32_t QVX_Smb2TreeId(const void* smb2_header);
// Its 64-bit SessionId.
uint64_t QVX_Smb2SessionId(const void* smb2_header);

// The tree in slot, whose connect request was shown as "WAIT<slot>", is now bound: the outputs
// that still hold that text show the tree's "connect" instead. True when one held it. With
// trace_fmt (at ErrorLevel 6 or more) every look is traced with (held text, wait text).
bool QVX_ShowTreeBound(CaptureContext& ctx, int slot, const char* trace_fmt);

// One handler call with its request path.
struct FileAccessCall {
  const char* routine = "";  // names the traces
  uint32_t tree_id = 0;      // TreeId or TID as received
  uint32_t uid = 0;          // user id for QVX_UserNameSet
  const unsigned char* recvData = nullptr;
  const char* name = "";  // request path, converted
  const char* cmd = "";   // "SMB Cmd" and "SMB Info"
  const char* info = "";
  LocalTime now;
  DATA* data = nullptr;
  bool share_trace = false;  // trace each share row compared
  bool every_time = false;   // logged even when it repeats a recent access
  // The name leaves the share (QVX_ResolveAccessName returned false): the caller looks nothing
  // up on disk for it and records it with size 0.
  bool outside = false;
  // The capture run the call belongs to.
  CaptureContext& ctx() const { return *data->ctx; }
};

// A tree that was guessed just now may still own the "WAIT" row of its slot: the row becomes a
// "connect" row and a connect line is written. With exclusion_check an excluded share stops the
// access (10) after the row was rewritten and before the line. 0 otherwise.
int QVX_CompleteWaitRow(const FileAccessCall& c, int slot, bool exclusion_check);

// Rewrites the local path full (size bytes) below the share's folder root as it is spelled on
// this server's disk (see DiskSpelling).
void QVX_SpellAsOnDisk(CaptureContext& ctx, const char* root, char* full, size_t size);

// How the tree's ShareLocalPath keeps the share's folder.
enum class LocalPathForm { kWithSeparator, kAsListed, kWithoutSeparator };
// Finds the share of the tree in slot and joins its folder with the request path into full
// (full_size bytes, cut inside it); a name outside the share gives kOutsideShareMark and the
// name as sent instead. False when no share row has the tree's share name.
bool QVX_MapTreeShare(const FileAccessCall& c, int slot, char* full, size_t full_size,
                      LocalPathForm form);

// An access on a tree whose share is not listed: an "unknown" line and row with the path as
// sent. 10 when excluded or a repeat, else 0.
int QVX_UnknownShareRecord(const FileAccessCall& c);

// What an open of full did, with the size to show and the object's kind. A name that left the
// share is never looked at: the mask alone judges it, its size is 0 and v.smb/v.api stay 0.
OpenVerdict QVX_JudgeOpen(const FileAccessCall& c, int slot, char* full, uint32_t desired,
                          uint32_t options, uint64_t* size, int* kind);

// The "access" line and row of the tree in slot, unless the same access was recorded in the
// last rows (and the call is not logged every time). Always 0.
int QVX_AccessRecord(const FileAccessCall& c, int slot, const char* full, uint64_t size,
                     const char* operation);
// The facts of an access line of the tree in slot (its user looked up now).
AccessFacts QVX_AccessFactsOf(const FileAccessCall& c, int slot, const char* full, uint64_t size);
// The same for a request on a tree that is neither known nor guessed: the tree named by
// c.tree_id, the connection's ends, the user of the connection's SMB2 session (or SMB1 c.uid).
AccessFacts QVX_AccessFactsOfConnection(const FileAccessCall& c, uint64_t session,
                                        const char* full);
// Writes the line and row of an access with the given Action ("access", "denied", ...), unless
// it repeats one of the last rows and every_time is false. Always 0.
int QVX_WriteAccess(CaptureContext& ctx, const AccessFacts& a, const char* action,
                    const char* operation, bool every_time);

// The source of a server-side copy whose key the run never saw given to a handle.
inline constexpr const char kUnseenSourceMark[] = "[source not seen]";

// Access-mask bits beyond those of the verdict: an open that may delete its file.
inline constexpr uint32_t kMaximumAllowed = 0x02000000;
inline constexpr uint32_t kGenericAll = 0x10000000;

// The handle key of a message on the connection ends for an SMB2 session and file id, or an
// SMB1 FID (session 0, id {0, fid}).
OpenFileKey QVX_OpenFileKeyOf(const ConnectionEnds& ends, int version, uint64_t session,
                              uint64_t id0, uint64_t id1);

// An open the server refused with status: a refusal for the user's rights is a "denied" line
// (the operation attempted, the status named in the SMB Info column); any other refusal is only
// counted (kernel log at ErrorLevel 4 or more). Always 0.
int QVX_RefusedOpenRecord(const FileAccessCall& c, int slot, const char* full, uint32_t desired,
                          uint32_t disposition, uint32_t status);
// The "denied" line of a request refused for the user's rights: the status named in the SMB Info
// column, verdict the operation it tried. Always 0.
int QVX_DeniedRecord(const FileAccessCall& c, int slot, const char* full, int verdict,
                     uint32_t status);
// True (and the refusal counted) when a refused request gives no line at all.
bool QVX_RefusalSilent(const char* routine, const char* name, uint32_t status);
// An open the server answered with success: the verdict from what it did (created, overwritten,
// opened), size and kind from its answer. An open that may delete or rename its file keeps its
// line back until the handle closes; an open logged as a read gets a "Wt" line at its first
// write. The handle is followed until its close. Always 0.
int QVX_AnsweredOpenRecord(const FileAccessCall& c, int slot, const char* full, uint32_t desired,
                           uint32_t options, const OpenFileKey& key, const AnswerFacts& a);
// The line a handle kept back, at its close (when) or when it is given up: "Del" when its delete
// took effect, nothing after a rename, else what the open did ("Wt" after a write); an adopted
// handle that told nothing yet gives "Rd".
void QVX_EndOpen(CaptureContext& ctx, const OpenFile& f, const LocalTime& when);
// A successful write (or a new end of file) on a handle: its first one makes a parked open a
// write, or gives a handle logged "Rd" one "Wt" line, named by the command (cmd, info).
void QVX_HandleWritten(CaptureContext& ctx, OpenFile* f, const char* cmd, const char* info);
// True when the answer a to a read or write tells something: a success, or a refusal for the
// user's rights. Any other refusal, and a request never answered, tell nothing.
bool QVX_HandleAnswerTells(const AnswerFacts* a);
// A read or write (write) on handle f that the server answered with a: a write as
// QVX_HandleWritten; a read gives an adopted handle that told nothing yet its "Rd" line (any
// other handle's open said it already); a refusal for the user's rights is a "denied" line of the
// handle's file, verdict the operation tried, the status in the SMB Info column.
void QVX_HandleReadOrWritten(CaptureContext& ctx, OpenFile* f, bool write, const AnswerFacts& a,
                             const char* cmd, const char* info);
// A change the server carried out through handle f (its permissions, attributes or time
// stamps): a line with the handle's facts, verdict its operation, cmd the command's name and info
// what it changed; acl the new security descriptor of a permission change (SDDL). Told every
// time it is seen.
void QVX_HandleChanged(CaptureContext& ctx, const OpenFile& f, int verdict, const char* cmd,
                       const char* info, const std::string& acl = {});
// A request through handle f that the server refused with status: for the user's rights a
// "denied" line (verdict what it tried, the status in the SMB Info column), else no line (the
// refusal counted).
void QVX_HandleRefused(CaptureContext& ctx, const OpenFile& f, int verdict, const char* cmd,
                       uint32_t status);
// Refused requests that gave no line, since the program started.
uint64_t QVX_SilentRefusals();

}  // namespace qvx
