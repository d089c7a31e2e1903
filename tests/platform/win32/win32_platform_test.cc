// The Windows platform layer, run under Wine: the machine's address list next to what the IP
// helper API reports, and the default server address taken from it.
#include <winsock2.h>
// winsock2.h before windows.h
#include <gtest/gtest.h>
#include <iphlpapi.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/data.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "capture/capture_control.h"
#include "platform/platform.h"

namespace qvx {
namespace {

// The IPv4 addresses of the adapters that are up, through GetAdaptersAddresses: another road to
// the same facts than the socket layer's address-list query.
std::vector<std::string> AdapterAddresses() {
  std::vector<std::string> out;
  ULONG size = 16384;
  std::vector<unsigned char> buf(size);
  auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data());
  if (GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr, list,
                           &size) != NO_ERROR)
    return out;
  for (auto* a = list; a; a = a->Next) {
    if (a->OperStatus != IfOperStatusUp) continue;
    for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
      const auto* sin = reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr);
      const auto* b = reinterpret_cast<const unsigned char*>(&sin->sin_addr);
      char text[32];
      std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
      out.push_back(text);
    }
  }
  return out;
}

TEST(Win32PlatformTest, AddressListIsTheMachines) {
  std::vector<std::string> got;
  ASSERT_EQ(NativePlatform().LocalIPv4Addresses(&got), AddressListResult::kOk);
  const std::vector<std::string> want = AdapterAddresses();
  ASSERT_FALSE(want.empty());
  ASSERT_FALSE(got.empty());
  // Adapters without an IPv4 address (Wine lists them as 0.0.0.0) are left out.
  for (const auto& a : got)
    EXPECT_NE(std::find(want.begin(), want.end(), a), want.end()) << a << " is no adapter's";
  // Asked twice (the socket layer is started and released each time), the same answer.
  std::vector<std::string> again;
  ASSERT_EQ(NativePlatform().LocalIPv4Addresses(&again), AddressListResult::kOk);
  EXPECT_EQ(again, got);
}

TEST(Win32PlatformTest, DefaultServerAddressIsOneOfTheMachines) {
  Platform* previous = SetPlatform(&NativePlatform());
  OptionSetDefaults(&OptionInfo);
  ASSERT_STREQ(OptionInfo.IpAddress, "0.0.0.0");
  nCmdLineOptSc = 1;
  DATA data;
  EXPECT_EQ(QVX_Init_Dlg(nullptr, data), 0);
  nCmdLineOptSc = 0;
  SetPlatform(previous);
  const std::vector<std::string> want = AdapterAddresses();
  EXPECT_NE(std::find(want.begin(), want.end(), std::string(OptionInfo.IpAddress)), want.end())
      << OptionInfo.IpAddress;
  EXPECT_STRNE(OptionInfo.IpAddress, "0.0.0.0");
}

}  // namespace
}  // namespace qvx
