// The host table (QVX_Hosts.hst), the Winsock look-ups and the display form of an address.
#pragma once

#include <cstddef>

namespace qvx {

// The hosts file as read: 512 entries of two 256-character strings (allocated with the tables).
extern char*** HostsData;
inline constexpr int kHostsDataEntries = 512;

inline constexpr const char* kHostsFileName = "QVX_Hosts.hst";
inline constexpr int kHostDisplayName = 63;  // most characters of a name in a display string
// A display string is cut to fit the smallest buffer callers pass (64 bytes).
inline constexpr size_t kHostDisplaySize = 64;

extern int HostsDataCnt;

// Reads the host table from szFolder (the file's path). 0 when read, 1 when the file cannot be
// opened (the table is then empty). The new table replaces the old one in one step, so the
// capture thread never sees it half read.
int QVX_HostsRead(void* data, const char* szFolder);
// The address of HostName from the host table (IPAdress holds kIpTextSize): 0 found, 1 not.
int QVXHostsChk(const char* HostName, char* IPAdress, int Flg);
// Display form of an address ("name(addr)" or the bare address) into szListBuff (64 bytes or
// more). A long name is shortened; the address is always there whole. Always 0.
int AddHostName(const char* addr, char* szListBuff, int OptionInfo_HostName, int Flg);
// Name -> first IPv4 address; 0 or -1 (the failure text is then in pszIP).
int GetIp(const char* pszHost, char* pszIP, int nBufsize, int nOpenFlg);
// Address -> official name; 0, -1 (start-up failed) or -2 (look-up failed, text in pszHost).
// Answers, failures too, are kept for a while (at most 256 addresses).
int GetHost(const char* pszIP, char* pszHost, int nBufsize, int nOpenFlg);
// Forgets the kept reverse look-ups.
void QVX_HostCacheClear();
// 0 when ChkCode is dotted-quad text, else 1.
int QVX_IpAddrChk(const char* ChkCode);

// The start-up read of QVX_Hosts.hst from the current directory and the menu command "QVX_hosts
// Data Read". Both switch QVXHosts off when the read fails.
void QVX_HostsReadAtStartUp(void* owner);
void QVX_HostsReadCommand(void* owner, const char* path);

}  // namespace qvx
