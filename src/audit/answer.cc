#include "audit/answer.h"

#include <cstdio>

namespace qvx {

namespace {

struct StatusName {
  uint32_t status;
  const char* name;
};

constexpr StatusName kNames[] = {
    {0x00000000, "STATUS_SUCCESS"},
    {0x00000103, "STATUS_PENDING"},
    {0xC0000001, "STATUS_UNSUCCESSFUL"},
    {0xC000000D, "STATUS_INVALID_PARAMETER"},
    {0xC000000F, "STATUS_NO_SUCH_FILE"},
    {0xC0000022, "STATUS_ACCESS_DENIED"},
    {0xC0000033, "STATUS_OBJECT_NAME_INVALID"},
    {0xC0000034, "STATUS_OBJECT_NAME_NOT_FOUND"},
    {0xC0000035, "STATUS_OBJECT_NAME_COLLISION"},
    {0xC000003A, "STATUS_OBJECT_PATH_NOT_FOUND"},
    {0xC0000043, "STATUS_SHARING_VIOLATION"},
    {0xC0000054, "STATUS_FILE_LOCK_CONFLICT"},
    {0xC0000056, "STATUS_DELETE_PENDING"},
    {0xC0000061, "STATUS_PRIVILEGE_NOT_HELD"},
    {0xC000007F, "STATUS_DISK_FULL"},
    {0xC00000A2, "STATUS_MEDIA_WRITE_PROTECTED"},
    {0xC00000BA, "STATUS_FILE_IS_A_DIRECTORY"},
    {0xC00000CA, "STATUS_NETWORK_ACCESS_DENIED"},
    {0xC0000101, "STATUS_DIRECTORY_NOT_EMPTY"},
    {0xC0000103, "STATUS_NOT_A_DIRECTORY"},
    {0xC0000121, "STATUS_CANNOT_DELETE"},
    {0xC0000128, "STATUS_FILE_CLOSED"},
    {0xC00000C9, "STATUS_NETWORK_NAME_DELETED"},
    {0xC000000E, "STATUS_NO_SUCH_DEVICE"},
    {0xC0000010, "STATUS_INVALID_DEVICE_REQUEST"},
    {0xC0000011, "STATUS_END_OF_FILE"},
};

}  // namespace

bool QVX_StatusIsDenial(uint32_t status) {
  switch (status) {
    case 0xC0000022:  // STATUS_ACCESS_DENIED
    case 0xC0000061:  // STATUS_PRIVILEGE_NOT_HELD
    case 0xC00000A2:  // STATUS_MEDIA_WRITE_PROTECTED: a write on a read-only share
    case 0xC00000CA:  // STATUS_NETWORK_ACCESS_DENIED
    case 0xC0000121:  // STATUS_CANNOT_DELETE: a read-only file
      return true;
    default:
      return false;
  }
}

const char* QVX_StatusName(uint32_t status, char* out, size_t size) {
  for (const StatusName& n : kNames)
    if (n.status == status) return n.name;
  std::snprintf(out, size, "STATUS_0x%08X", static_cast<unsigned>(status));
  return out;
}

}  // namespace qvx
