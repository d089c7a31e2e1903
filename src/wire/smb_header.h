// Wire records the capture loop copies out of a message, and the handler contract.
#pragma once

#include <cstdint>

#include "base/data.h"

namespace qvx {

#pragma pack(push, 1)
// SMB1 header (32 bytes, little-endian).
struct SMB_HEADER_ST {
  unsigned char Protocol[4];  // 0xFF 'S' 'M' 'B'
  uint8_t Command;
  uint32_t Status;
  uint8_t Flags;
  uint16_t Flags2;
  uint16_t PIDHigh;
  unsigned char SecurityFeatures[8];
  uint16_t Reserved;
  uint16_t TID;
  uint16_t PIDLow;
  uint16_t UID;
  uint16_t MID;
};

// SMB2 sync header (64 bytes, little-endian). Length is the StructureSize field.
struct SMB2_HEADER_ST {
  unsigned char ProtocolId[4];  // 0xFE 'S' 'M' 'B'
  unsigned char Length[2];
  uint16_t CreditCharge;
  uint32_t Status;
  uint16_t Command;
  uint16_t Credit;
  uint32_t Flags;
  uint32_t NextCommand;
  unsigned char MessageId[8];
  uint32_t Reserved;
  uint32_t TreeId;
  unsigned char SessionId[8];
  unsigned char Signature[16];
};

// Ethernet II header (14 bytes).
struct _PROTOCOL_ETHER {
  unsigned char DstMac[6];
  unsigned char SrcMac[6];
  unsigned char EtherType[2];
};
#pragma pack(pop)

static_assert(sizeof(SMB_HEADER_ST) == 32);
static_assert(sizeof(SMB2_HEADER_ST) == 64);
static_assert(sizeof(_PROTOCOL_ETHER) == 14);

// Handler contract. Len: bytes of the IPv4 datagram in recvData (byte 0 is the first byte of the
// IPv4 header). SMB_Total_Packet_Size: 1-based cursor, recvData[SMB_Total_Packet_Size - 1] is the
// first byte after the SMB header. A handler returns 0 when it processed or ignored the frame,
// 10 when it dropped it; it never reads recvData at or beyond Len.
using SmbHandler = int (*)(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                           long SMB_Total_Packet_Size, DATA* data);
using SmbCapHandler = int (*)(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                              long SMB_Total_Packet_Size, int Max, DATA* data);
using Smb2Handler = int (*)(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                            long SMB_Total_Packet_Size, DATA* data);
using Smb2CapHandler = int (*)(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len,
                               unsigned char* recvData, long SMB_Total_Packet_Size, int Max,
                               DATA* data);

}  // namespace qvx
