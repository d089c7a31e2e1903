// The local Samba server as the Linux platform sees it: shares from its configuration file and
// sessions from `smbstatus -j`.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/smbstatus.h"

namespace qvx {

inline constexpr const char* kDefaultSambaConfig = "/etc/samba/smb.conf";

// The configuration file shares are read from (--smb-conf). Also handed to smbstatus.
void SetSambaConfigPath(const std::string& path);
std::string SambaConfigPath();
// Sessions from a file holding the JSON of `smbstatus -j` instead of running it (replay).
void SetSambaSessionsFile(const std::string& path);

// The shares of a configuration text: every section but [global] and [homes] that names a
// path. A section with "printable = yes" is a print queue (type 1). [IPC$] comes first, as the
// server lists it.
std::vector<ServerShare> ParseSambaConfig(const std::string& text);

// Backends of Platform::ListShares / ListSessions / ExpireSessionCache. The configuration is
// read again only when the file changed; smbstatus runs at most about once a second unless the
// cache is expired, and after it failed (or ran out of time) not again for a few seconds: the
// calls fail at once meanwhile.
bool SambaListShares(std::vector<ServerShare>* out);
bool SambaListSessions(std::vector<ServerSession>* out);
void SambaExpireSessions();
// True while the first session list is still being read (smbstatus runs off the caller's thread).
bool SambaSessionsPending();

// The open files of `smbstatus -j` output, each with the FileId its handle goes by: found in a
// dump (`tdbdump`) of the server's table of open handles, smbXsrv_open_global.tdb in its lock
// directory, whose record of each open names the same server process and the same time of open
// (to the microsecond) as smbstatus does. The open's record holds the SMB2 persistent FileId (the
// open's global id, the record's key) and its volatile one, which is also the FID of an SMB1
// open. smbstatus's own ids do not name the handle: share_file_id counts a process's opens.
// Also the SMB2 trees (tcon_id is the TreeId of an SMB2 session's tree; an SMB1 TID is not
// listed). False when the JSON is not smbstatus's.
bool ParseSambaOpenFiles(const std::string& smbstatus_json, const std::string& handles_dump,
                         ServerOpenFiles* out);
// Backends of Platform::ListOpenFiles / AskOpenFiles.
OpenFilesSnapshot SambaOpenFiles();
void SambaAskOpenFiles();

}  // namespace qvx
