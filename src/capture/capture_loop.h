// The capture thread: receives frames, finds the SMB1/SMB2 header, applies the server, IP-filter
// and command gates, and hands each frame to one handler.
#pragma once

#include <cstdint>

#include "wire/smb_header.h"

namespace qvx {

// Offset in recvData at which the last SMB signature was found.
extern long PacketSMB_Base;

inline constexpr unsigned long kRecvBufSize = 65535;
inline constexpr unsigned long kEtherHeaderSize = 14;
// Shortest datagram the loop looks into.
inline constexpr unsigned long kMinDatagram = 44;

// The handlers the loop dispatches to, by version, direction and command. Tests may swap entries;
// QVX_CaptureDispatchReset puts the real ones back.
struct CaptureDispatch {
  // SMB1 toward the server
  SmbCapHandler SmbTreeConnectAndx;
  SmbHandler SmbNtCreateAndx;
  SmbHandler SmbComRename;
  SmbHandler ComDeleteDirectory;
  SmbCapHandler SmbTreeDisConnectReq;
  SmbHandler SmbSessionSetupAndx;
  SmbHandler SmbOtherCmd;
  // SMB1 from the server
  SmbCapHandler SmbTreeConnectAndxRecv;
  SmbCapHandler SmbSessionSetupAndxRecv;
  // SMB2 toward the server
  Smb2CapHandler Smb2FileStandardInfo;
  Smb2CapHandler Smb2TreeConnectAndx;
  Smb2CapHandler Smb2TreeDisConnectReq;
  Smb2Handler Smb2OtherCmd;
  // SMB2 from the server
  Smb2CapHandler Smb2TreeConnectAndxRecv;
  // SMB2 toward the server, on open handles
  Smb2Handler Smb2Close;
  Smb2Handler Smb2Write;
  Smb2Handler Smb2SetInfo;
  // SMB1 toward the server, on open handles and on the objects named
  SmbHandler SmbClose;
  SmbHandler SmbWrite;
  SmbHandler SmbCreateDirectory;
  SmbHandler SmbComDelete;
  // SMB2 toward the server, on open handles: server-side copies
  Smb2Handler Smb2Ioctl;
  // SMB1 toward the server: the legacy opens, set-information, NT transactions (create, security
  // descriptor), NT_RENAME with COPY and MOVE, WRITE_AND_CLOSE
  SmbHandler SmbOpen;
  SmbHandler SmbSetInfo;
  SmbHandler SmbNtTransact;
  SmbHandler SmbNtRename;
  SmbHandler SmbWriteAndClose;
  // Reads on open handles (SMB2, SMB1)
  Smb2Handler Smb2Read;
  SmbHandler SmbRead;
};
extern CaptureDispatch QVX_CaptureDispatch;
void QVX_CaptureDispatchReset();

// The thread procedure; pData is the DATA record. Runs until data->LoggingFlg is 0.
unsigned long QVX_LogThread(void* pData);

// Capture time (microseconds since 1970) of the frame being handled or handled last; a request
// handled after its answer keeps its own time. 0 before any.
int64_t QVX_CaptureHandledTimeUs();
// Forgets the time of the last frame handled, as a new capture run does at its start.
void QVX_CaptureHandledTimeReset();
// The same, but only on the capture thread while it handles a frame; 0 on every other thread.
int64_t QVX_CaptureThreadFrameUs();
// Frames the capture dropped since the program started (the start-up resets it).
uint64_t QVX_CaptureDroppedTotal();
// Frames to or from an SMB port (445, 139) that reached the capture loop since the program
// started: none while SMB traffic goes by means the capture filter keeps it out.
uint64_t QVX_CaptureSmbFrames();
void QVX_CaptureDroppedReset();

}  // namespace qvx
