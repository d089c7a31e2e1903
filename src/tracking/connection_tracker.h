// The server's SMB connections (TCP 445, or NetBIOS session service on 139) as the capture sees
// them, frame by frame, with the user of the NTLMSSP log-on seen on each. A replay takes the
// server's sessions from here; live and in a replay alike the handlers take the user of a tree from
// its own connection, since the server may list a fresh session only after its first accesses (or
// after it already ended).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace qvx {

class ConnectionTracker {
 public:
  // One TCP connection to port 445 or 139.
  struct Connection {
    std::string server;  // address that receives TCP 445 or 139
    std::string client;
    uint16_t client_port = 0;
    int64_t opened_us = 0;   // first frame seen (capture time, microseconds)
    int64_t closed_us = -1;  // FIN or RST; -1 while open
    std::string user;        // from the NTLMSSP AUTHENTICATE message, if one was seen
    int64_t user_us = 0;     // when it was seen
  };

  // A capture of days must not keep every connection it ever saw: closed connections are
  // remembered (for Connections(), and so that the last frames after a FIN open nothing) up to
  // kClosedKept, the oldest beyond that forgotten; likewise open ones beyond kOpenKept, whose end
  // the capture missed.
  static constexpr size_t kClosedKept = 4096;
  static constexpr size_t kOpenKept = 65536;

  ConnectionTracker();
  ~ConnectionTracker();
  ConnectionTracker(const ConnectionTracker&) = delete;
  ConnectionTracker& operator=(const ConnectionTracker&) = delete;

  // Takes the next frame (of the link type given), in capture order. A log-on is taken from a
  // segment toward the server that starts an SMB session set-up request. Called by one thread
  // only.
  void Observe(const unsigned char* frame, uint32_t size, int64_t time_us, int link_type = 1);
  // Forgets everything (a new capture starts).
  void Reset();

  // The sessions open after the frames taken so far: one per open connection to server, in the
  // order they were opened, named by its user once the log-on was seen. Any thread.
  std::vector<ServerSession> Sessions(const std::string& server, int64_t now_us) const;
  // The user of the log-on seen on the open connection from client:port to server; empty when
  // none was seen (Kerberos, a log-on before the capture) or the connection is not known. Any
  // thread.
  std::string User(const char* server, const char* client, uint16_t client_port) const;
  // A log-on seen by the capture: the user of an SMB2 session (server and SessionId, whatever
  // connection carries it) or of an SMB1 UID on its connection. Called by the capture thread.
  void TakeLogon(const std::string& server, const std::string& client, uint16_t port, int version,
                 uint64_t session, const std::string& user);
  // The user of that log-on; empty when none was seen. Any thread.
  std::string SessionUser(const std::string& server, const std::string& client, uint16_t port,
                          int version, uint64_t session) const;
  // Whether the connection from client:port to server is open (seen, and no FIN or RST yet).
  // Any thread.
  bool IsOpen(const char* server, const char* client, uint16_t client_port) const;
  // The connections remembered, open or closed, in the order they were opened. Any thread.
  std::vector<Connection> Connections() const;
  // The first address that received TCP 445 or 139; empty before such a frame.
  std::string Server() const;
  uint64_t Frames() const;

 private:
  struct State;
  State* state_;
};

// The user name of an NTLMSSP AUTHENTICATE message somewhere in payload (UTF-8); empty when there
// is none or it does not lie inside the payload.
std::string NtlmAuthenticateUser(const unsigned char* payload, size_t size);

// The connections of the capture in use, live or replayed.
ConnectionTracker& CaptureConnections();
// Starts following the capture connector's frames into CaptureConnections() from scratch (at
// every open of a capture), or stops (at its close).
void FollowCaptureConnections(bool on);

}  // namespace qvx
