// The capture port's calls that take the library's own structures, written once for both
// declarations of them: <pcap/pcap.h> on Linux, wpcap.dll's ABI declared by win32/pcap_port.cc
// (a time stamp's fields are narrower there). Only the two pcap_port.cc include this, after those
// declarations. lib names the structures (If, Header, Program, Stat, SockaddrIn, SockaddrIn6,
// kAfInet, kAfInet6) and holds the library's calls of the same names.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "platform/pcap_port.h"

namespace qvx::pcap_calls {

template <const auto& lib>
int ListAddresses(PcapAddressSink sink, void* ctx, char* err) {
  using Lib = std::remove_cvref_t<decltype(lib)>;
  typename Lib::If* all = nullptr;
  if (lib.findalldevs(&all, err) == -1) return -1;
  for (auto* d = all; d; d = d->next) {
    for (auto* a = d->addresses; a; a = a->next) {
      if (!a->addr) continue;
      if (a->addr->sa_family == Lib::kAfInet) {
        const auto* in = reinterpret_cast<const typename Lib::SockaddrIn*>(a->addr);
        sink(ctx, IpAddress::V4(reinterpret_cast<const uint8_t*>(&in->sin_addr)), d->name);
      } else if (a->addr->sa_family == Lib::kAfInet6) {
        const auto* in6 = reinterpret_cast<const typename Lib::SockaddrIn6*>(a->addr);
        sink(ctx, IpAddress::V6(reinterpret_cast<const uint8_t*>(&in6->sin6_addr)), d->name);
      }
    }
  }
  lib.freealldevs(all);
  return 0;
}

template <const auto& lib>
int SetFilter(PcapHandle p, const char* filter, uint32_t netmask) {
  typename std::remove_cvref_t<decltype(lib)>::Program prog{};
  if (lib.compile(p, &prog, filter, 1, netmask) == -1) return -1;
  const int rc = lib.setfilter(p, &prog);
  lib.freecode(&prog);
  return rc == -1 ? -1 : 0;
}

template <const auto& lib>
int Next(PcapHandle p, const unsigned char** data, uint32_t* caplen, int64_t* sec, long* usec) {
  typename std::remove_cvref_t<decltype(lib)>::Header* h = nullptr;
  const int rc = lib.next_ex(p, &h, data);
  if (rc == 1) {
    *caplen = h->caplen;
    *sec = static_cast<int64_t>(h->ts.tv_sec);
    *usec = static_cast<long>(h->ts.tv_usec);
  }
  return rc;
}

template <const auto& lib>
int Stats(PcapHandle p, uint64_t* received, uint64_t* dropped) {
  typename std::remove_cvref_t<decltype(lib)>::Stat st{};
  if (lib.stats(p, &st) != 0) return -1;
  *received = st.ps_recv;
  *dropped = st.ps_drop;
  return 0;
}

}  // namespace qvx::pcap_calls
